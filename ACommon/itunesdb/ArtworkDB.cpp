#include "ACommon/itunesdb/ArtworkDB.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"

#include <algorithm>
#include <map>

// A record as read: its header, the records inside it, and any bytes after them that are no record.
struct ArtworkDB::Node {
    std::vector<std::uint8_t> header;
    std::vector<Node> children;
    std::vector<std::uint8_t> rest;

    std::string Tag() const { return std::string(header.begin(), header.begin() + 4); }
    bool IsList() const { return IsListTag(Tag()); }
    static bool IsListTag(const std::string& tag) { return tag == "mhli" || tag == "mhla" || tag == "mhlf"; }
    std::uint32_t U32(std::size_t at) const
    {
        if (at + 4 > header.size())
            return 0;
        return header[at] | header[at + 1] << 8 | header[at + 2] << 16 |
               static_cast<std::uint32_t>(header[at + 3]) << 24;
    }
    std::uint16_t U16(std::size_t at) const
    {
        return at + 2 > header.size() ? 0 : static_cast<std::uint16_t>(header[at] | header[at + 1] << 8);
    }
    void SetU32(std::size_t at, std::uint32_t value)
    {
        if (at + 4 <= header.size())
            for (int i = 0; i < 4; ++i)
                header[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    void SetU16(std::size_t at, std::uint16_t value)
    {
        if (at + 2 <= header.size()) {
            header[at] = static_cast<std::uint8_t>(value);
            header[at + 1] = static_cast<std::uint8_t>(value >> 8);
        }
    }
    static Node Make(const char* tag, std::size_t headerLength)
    {
        Node node;
        node.header.assign(headerLength, 0);
        std::copy(tag, tag + 4, node.header.begin());
        return node;
    }
};

namespace {

using Node = ArtworkDB::Node;

constexpr int kMaxDepth = 8;
constexpr std::size_t kMinHeader = 12;

bool LooksLikeRecord(const ByteReader& in)
{
    return in.Has(kMinHeader) && in.PeekU8(0) == 'm' && in.PeekU8(1) == 'h';
}

int ReadNode(ByteReader& in, Node& node, int depth);

// Records inside `body` while they look like records; what follows is kept as it is.
int ReadChildren(ByteReader& body, Node& node, int depth)
{
    while (LooksLikeRecord(body)) {
        Node child;
        if (int err = ReadNode(body, child, depth + 1); err != 0)
            return err;
        node.children.push_back(std::move(child));
    }
    const auto rest = body.Rest();
    node.rest.assign(rest.begin(), rest.end());
    return 0;
}

int ReadNode(ByteReader& in, Node& node, int depth)
{
    if (depth > kMaxDepth || !LooksLikeRecord(in))
        return kErrUnknown;
    const std::size_t start = in.Position();
    const std::string tag = in.ReadTag(4);
    const std::uint32_t headerLength = in.ReadU32LE();
    const std::uint32_t third = in.ReadU32LE();
    if (headerLength < kMinHeader || headerLength > in.Size() - start)
        return kErrUnknown;
    in.Seek(start);
    const auto header = in.ReadSpan(headerLength);
    node.header.assign(header.begin(), header.end());
    if (Node::IsListTag(tag)) {
        // Its records follow it, inside its parent.
        if (third > in.Remaining() / kMinHeader)
            return kErrUnknown;
        for (std::uint32_t i = 0; i < third; ++i) {
            Node child;
            if (int err = ReadNode(in, child, depth + 1); err != 0)
                return err;
            node.children.push_back(std::move(child));
        }
        return 0;
    }
    if (third < headerLength || third - headerLength > in.Remaining())
        return kErrUnknown;
    ByteReader body = in.Sub(third - headerLength);
    // Of the data objects only the thumbnail container holds a record; the others hold text.
    if (tag == "mhod" && node.U16(12) != 2) {
        const auto rest = body.Rest();
        node.rest.assign(rest.begin(), rest.end());
        return 0;
    }
    return ReadChildren(body, node, depth);
}

void WriteNode(ByteWriter& out, const Node& node)
{
    const std::size_t at = out.Size();
    out.WriteBytes(node.header.data(), node.header.size());
    out.PatchU32LE(at + 4, static_cast<std::uint32_t>(node.header.size()));
    const std::string tag = node.Tag();
    // Counts of children that the header keeps.
    if (tag == "mhfd")
        out.PatchU32LE(at + 20, static_cast<std::uint32_t>(node.children.size()));
    else if ((tag == "mhii" || tag == "mhni") && node.header.size() >= 16)
        out.PatchU32LE(at + 12, static_cast<std::uint32_t>(node.children.size()));
    for (const Node& child : node.children)
        WriteNode(out, child);
    out.WriteBytes(node.rest.data(), node.rest.size());
    if (node.IsList())
        out.PatchU32LE(at + 8, static_cast<std::uint32_t>(node.children.size()));
    else
        out.PatchU32LE(at + 8, static_cast<std::uint32_t>(out.Size() - at));
}

Node* FindDataset(Node& root, std::uint16_t type)
{
    for (Node& child : root.children)
        if (child.Tag() == "mhsd" && child.U16(12) == type)
            return &child;
    return nullptr;
}

Node* ListOf(Node* dataset, const char* tag)
{
    if (!dataset)
        return nullptr;
    for (Node& child : dataset->children)
        if (child.Tag() == tag)
            return &child;
    return nullptr;
}

Node NewDataset(std::uint16_t type, const char* listTag)
{
    Node dataset = Node::Make("mhsd", 0x60);
    dataset.SetU16(12, type);
    dataset.children.push_back(Node::Make(listTag, 0x5C));
    return dataset;
}

Node NewRoot()
{
    Node root = Node::Make("mhfd", 0x84);
    root.SetU32(16, 2);
    root.children.push_back(NewDataset(1, "mhli"));
    root.children.push_back(NewDataset(2, "mhla"));
    root.children.push_back(NewDataset(3, "mhlf"));
    return root;
}

// The text of a type-3 data object (UTF-16LE, or UTF-8 as some writers use), as ASCII-compatible
// UTF-8 for the file names it holds.
std::string NameOf(const Node& mhod)
{
    ByteReader in(mhod.rest);
    const std::uint32_t length = in.ReadU32LE();
    const std::uint32_t encoding = in.ReadU32LE();
    in.Skip(4);
    if (!in.Ok() || length > in.Remaining())
        return std::string();
    const auto text = in.ReadSpan(length);
    std::string name;
    if (encoding == 2) {
        for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
            const unsigned unit = text[i] | text[i + 1] << 8;
            name.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
        }
    } else {
        name.assign(text.begin(), text.end());
    }
    return name;
}

Node NameObject(const std::string& name)
{
    Node mhod = Node::Make("mhod", 0x18);
    mhod.SetU16(12, 3);
    ByteWriter body;
    body.WriteU32LE(static_cast<std::uint32_t>(name.size() * 2));
    body.WriteU32LE(2);
    body.WriteU32LE(0);
    for (char c : name) {
        body.WriteU8(static_cast<std::uint8_t>(c));
        body.WriteU8(0);
    }
    const std::size_t padding = (4 - body.Size() % 4) % 4;
    body.WriteZeros(padding);
    mhod.header[15] = static_cast<std::uint8_t>(padding);
    mhod.rest = body.Take();
    return mhod;
}

ArtworkDB::Thumb ThumbOf(const Node& mhni)
{
    ArtworkDB::Thumb thumb;
    thumb.formatId = mhni.U32(16);
    thumb.offset = mhni.U32(20);
    thumb.size = mhni.U32(24);
    thumb.verticalPadding = static_cast<std::int16_t>(mhni.U16(28));
    thumb.horizontalPadding = static_cast<std::int16_t>(mhni.U16(30));
    thumb.height = mhni.U16(32);
    thumb.width = mhni.U16(34);
    for (const Node& child : mhni.children)
        if (child.Tag() == "mhod" && child.U16(12) == 3)
            thumb.file = NameOf(child);
    return thumb;
}

// The thumbnail container of `thumb`: `kept` as read with the fields set, or a new one.
Node ContainerOf(const ArtworkDB::Thumb& thumb, const Node* kept)
{
    Node mhod;
    if (kept) {
        mhod = *kept;
    } else {
        mhod = Node::Make("mhod", 0x18);
        mhod.SetU16(12, 2);
    }
    if (mhod.children.empty() || mhod.children[0].Tag() != "mhni") {
        mhod.children.insert(mhod.children.begin(), Node::Make("mhni", 0x4C));
    }
    Node& mhni = mhod.children[0];
    mhni.SetU32(16, thumb.formatId);
    mhni.SetU32(20, thumb.offset);
    mhni.SetU32(24, thumb.size);
    mhni.SetU16(28, static_cast<std::uint16_t>(thumb.verticalPadding));
    mhni.SetU16(30, static_cast<std::uint16_t>(thumb.horizontalPadding));
    mhni.SetU16(32, thumb.height);
    mhni.SetU16(34, thumb.width);
    bool named = false;
    for (Node& child : mhni.children) {
        if (child.Tag() == "mhod" && child.U16(12) == 3) {
            if (NameOf(child) != thumb.file)
                child = NameObject(thumb.file);
            named = true;
        }
    }
    if (!named)
        mhni.children.push_back(NameObject(thumb.file));
    return mhod;
}

Node ImageNode(const ArtworkDB::Image& image)
{
    const Node* kept = static_cast<const Node*>(image.record.get());
    Node mhii = kept ? *kept : Node::Make("mhii", 0x98);
    mhii.SetU32(16, image.id);
    mhii.SetU32(20, static_cast<std::uint32_t>(image.songId));
    mhii.SetU32(24, static_cast<std::uint32_t>(image.songId >> 32));
    mhii.SetU32(48, image.sourceSize);
    std::vector<Node> children;
    std::size_t next = 0;
    for (const Node& child : mhii.children) {
        const bool container = child.Tag() == "mhod" && child.U16(12) == 2;
        if (!container) {
            children.push_back(child);
        } else if (next < image.thumbs.size()) {
            children.push_back(ContainerOf(image.thumbs[next++], &child));
        }
    }
    for (; next < image.thumbs.size(); ++next)
        children.push_back(ContainerOf(image.thumbs[next], nullptr));
    mhii.children = std::move(children);
    return mhii;
}

} // namespace

ArtworkDB::ArtworkDB() : root(std::make_unique<Node>(NewRoot())) {}
ArtworkDB::~ArtworkDB() = default;
ArtworkDB::ArtworkDB(ArtworkDB&&) noexcept = default;
ArtworkDB& ArtworkDB::operator=(ArtworkDB&&) noexcept = default;

int ArtworkDB::Parse(std::span<const std::uint8_t> bytes)
{
    *this = ArtworkDB();
    ByteReader in(bytes);
    if (!in.Has(kMinHeader) || in.ReadTag(4) != "mhfd")
        return kErrUnknown;
    in.Seek(0);
    auto read = std::make_unique<Node>();
    try {
        if (int err = ReadNode(in, *read, 0); err != 0)
            return err;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (read->header.size() < 0x20)
        return kErrUnknown;
    std::vector<Image> read_images;
    if (Node* list = ListOf(FindDataset(*read, 1), "mhli")) {
        for (const Node& mhii : list->children) {
            if (mhii.Tag() != "mhii")
                return kErrUnknown;
            Image image;
            image.id = mhii.U32(16);
            image.songId = mhii.U32(20) | static_cast<std::uint64_t>(mhii.U32(24)) << 32;
            image.sourceSize = mhii.U32(48);
            for (const Node& child : mhii.children)
                if (child.Tag() == "mhod" && child.U16(12) == 2 && !child.children.empty() &&
                    child.children[0].Tag() == "mhni")
                    image.thumbs.push_back(ThumbOf(child.children[0]));
            image.record = std::make_shared<const Node>(mhii);
            read_images.push_back(std::move(image));
        }
    }
    std::vector<Format> read_formats;
    if (Node* list = ListOf(FindDataset(*read, 3), "mhlf"))
        for (const Node& mhif : list->children)
            if (mhif.Tag() == "mhif")
                read_formats.push_back(Format{mhif.U32(16), mhif.U32(20)});
    nextImageId = std::max(read->U32(28), kFirstImageId);
    root = std::move(read);
    images = std::move(read_images);
    formats = std::move(read_formats);
    return 0;
}

std::uint32_t ArtworkDB::TakeImageId()
{
    std::uint32_t id = nextImageId;
    for (const Image& image : images)
        if (image.id >= id)
            id = image.id + 1;
    nextImageId = id + 1;
    return id;
}

std::vector<std::uint8_t> ArtworkDB::Serialize() const
{
    Node out = *root;
    out.SetU32(28, std::max(nextImageId, kFirstImageId));
    // The three datasets the iPod expects, in their order, made when missing.
    if (!FindDataset(out, 1))
        out.children.insert(out.children.begin(), NewDataset(1, "mhli"));
    if (!FindDataset(out, 2))
        out.children.push_back(NewDataset(2, "mhla"));
    if (!FindDataset(out, 3))
        out.children.push_back(NewDataset(3, "mhlf"));

    Node* imageList = ListOf(FindDataset(out, 1), "mhli");
    if (!imageList) {
        FindDataset(out, 1)->children.push_back(Node::Make("mhli", 0x5C));
        imageList = ListOf(FindDataset(out, 1), "mhli");
    }
    imageList->children.clear();
    std::map<std::uint32_t, std::uint32_t> used; // format id -> picture size
    for (const Image& image : images) {
        imageList->children.push_back(ImageNode(image));
        for (const Thumb& thumb : image.thumbs)
            used.emplace(thumb.formatId, thumb.size);
    }

    Node* fileList = ListOf(FindDataset(out, 3), "mhlf");
    if (!fileList) {
        FindDataset(out, 3)->children.push_back(Node::Make("mhlf", 0x5C));
        fileList = ListOf(FindDataset(out, 3), "mhlf");
    }
    std::vector<Format> all = formats;
    for (const auto& [id, size] : used)
        if (std::none_of(all.begin(), all.end(), [id = id](const Format& f) { return f.id == id; }))
            all.push_back(Format{id, size});
    std::vector<Node> files;
    for (const Format& format : all) {
        auto kept = std::find_if(fileList->children.begin(), fileList->children.end(),
                                 [&](const Node& n) { return n.Tag() == "mhif" && n.U32(16) == format.id; });
        Node mhif = kept != fileList->children.end() ? *kept : Node::Make("mhif", 0x7C);
        mhif.SetU32(16, format.id);
        mhif.SetU32(20, format.imageSize);
        files.push_back(std::move(mhif));
    }
    fileList->children = std::move(files);

    ByteWriter writer;
    WriteNode(writer, out);
    return writer.Take();
}

std::string ArtworkDB::FileNameOf(const std::string& stored)
{
    std::string name = stored;
    while (!name.empty() && name[0] == ':')
        name.erase(0, 1);
    if (name.empty() || name.size() > 64 || name.find_first_of(":/\\") != std::string::npos || name == "." ||
        name == "..")
        return std::string();
    return name;
}

std::string ArtworkDB::FileKey(std::string name)
{
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}
