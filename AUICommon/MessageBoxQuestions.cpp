#include "AUICommon/MessageBoxQuestions.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QWidget>

MessageBoxQuestions::MessageBoxQuestions(QWidget* parent) : QObject(parent), window(parent) {}

template <typename Body> void MessageBoxQuestions::OnGuiThread(Body body)
{
    if (QThread::currentThread() == thread())
        body();
    else
        QMetaObject::invokeMethod(this, body, Qt::BlockingQueuedConnection);
}

int MessageBoxQuestions::Ask(const std::string& title, const std::string& informative,
                             const std::vector<std::string>& buttons)
{
    int answer = 0;
    OnGuiThread([&] {
        QMessageBox box(window);
        box.setIcon(QMessageBox::Question);
        box.setText(QString::fromStdString(title));
        box.setInformativeText(QString::fromStdString(informative));
        std::vector<QAbstractButton*> made;
        for (const std::string& label : buttons)
            made.push_back(box.addButton(QString::fromStdString(label), QMessageBox::AcceptRole));
        if (!made.empty())
            box.setDefaultButton(static_cast<QPushButton*>(made.front()));
        box.exec();
        for (std::size_t i = 0; i < made.size(); ++i)
            if (box.clickedButton() == made[i])
                answer = static_cast<int>(i);
    });
    return answer;
}

bool MessageBoxQuestions::ConfirmMassDeletion(const std::string& title, const std::string& informative)
{
    bool yes = false;
    OnGuiThread([&] {
        QMessageBox box(QMessageBox::Warning, QString::fromStdString(title), QString::fromStdString(title),
                        QMessageBox::Yes | QMessageBox::No, window);
        box.setInformativeText(QString::fromStdString(informative));
        box.setDefaultButton(QMessageBox::No);
        yes = box.exec() == QMessageBox::Yes;
    });
    return yes;
}

void MessageBoxQuestions::Inform(const std::string& message)
{
    if (elsewhere && elsewhere(message))
        return;
    OnGuiThread([&] {
        QMessageBox::information(window, QStringLiteral("Pelorin"), QString::fromStdString(message));
    });
}

bool MessageBoxQuestions::ChooseFiles(const std::string& title, const std::vector<std::string>& types,
                                      bool chooseDirectories, bool chooseFiles,
                                      std::vector<std::string>& chosen)
{
    OnGuiThread([&] {
        QFileDialog dialog(window, QString::fromStdString(title));
        if (chooseDirectories && !chooseFiles)
            dialog.setFileMode(QFileDialog::Directory);
        else
            dialog.setFileMode(QFileDialog::ExistingFiles);
        if (!types.empty()) {
            QString filter = QStringLiteral("Music files (");
            for (const std::string& type : types)
                filter += QStringLiteral("*.") + QString::fromStdString(type) + QLatin1Char(' ');
            dialog.setNameFilter(filter.trimmed() + QLatin1Char(')'));
        }
        if (dialog.exec() == QDialog::Accepted)
            for (const QString& file : dialog.selectedFiles())
                chosen.push_back(file.toStdString());
    });
    return !chosen.empty();
}
