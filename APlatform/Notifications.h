#pragma once
// The names of the notifications the core posts on the bus (platform::PostNotification), shared by
// poster and receiver so that a misspelt name does not build. Each says what the front end does
// when it arrives.

namespace platform::notification {

// Text: a piece of the run log, to be appended to the log view.
inline constexpr char kLogUpdate[] = "LogUpdate";
// A run starts: show the progress items (bar, status lines) and disable what picks the sync.
inline constexpr char kShowStatusItems[] = "ShowStatusItems";
inline constexpr char kDisableSyncPopUpsEtc[] = "DisableSyncPopUpsEtc";
// A run has ended: hide the progress items and enable what picks the sync again.
inline constexpr char kHideStatusItems[] = "HideStatusItems";
inline constexpr char kEnableSyncPopUpsEtc[] = "EnableSyncPopUpsEtc";
// A run waits for its planned actions to be reviewed; the review is over.
inline constexpr char kOpenActionsDrawer[] = "OpenActionsDrawer";
inline constexpr char kCloseActionsDrawer[] = "CloseActionsDrawer";
// The run log opens (when the settings say so) and closes again.
inline constexpr char kOpenLogDrawer[] = "OpenLogDrawer";
inline constexpr char kCloseLogDrawer[] = "CloseLogDrawer";
// A run starts: the settings may not be changed under it.
inline constexpr char kCloseSettingsDrawer[] = "CloseSettingsDrawer";

} // namespace platform::notification
