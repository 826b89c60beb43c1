#include "ui/file_saving.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSaveFile>

namespace darq {

namespace {

QString suffixOfFilter(const QString& filter) {
    static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
    return pattern.match(filter).captured(1);
}

} // namespace

FileSaving::FileSaving(QWidget* window, QLabel* status, Contents contents, Words words)
    : QObject(window), window_(window), status_(status), contents_(std::move(contents)),
      words_(std::move(words)) {}

void FileSaving::ask(const QString& title, const QStringList& nameFilters,
                     const QString& namePattern) {
    if (!dialog_) {
        dialog_ = new QFileDialog(window_, title);
        dialog_->setAcceptMode(QFileDialog::AcceptSave);
        dialog_->setFileMode(QFileDialog::AnyFile);
        dialog_->setNameFilters(nameFilters);
        dialog_->setDefaultSuffix(suffixOfFilter(nameFilters.value(0)));
        // Qt's own question before replacing a file waits for the answer in an event loop of its
        // own, which the window never runs: it is asked here instead, without waiting.
        dialog_->setOption(QFileDialog::DontConfirmOverwrite);
        dialog_->setWindowModality(Qt::NonModal);
        connect(dialog_, &QFileDialog::filterSelected, dialog_,
                [dialog = dialog_.data()](const QString& filter) {
                    dialog->setDefaultSuffix(suffixOfFilter(filter));
                });
        connect(dialog_, &QFileDialog::fileSelected, this, &FileSaving::confirmReplacing);
    }
    if (!dialog_->isVisible()) {
        dialog_->selectFile(namePattern.arg(
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    }
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

void FileSaving::confirmReplacing(const QString& path) {
    if (!QFileInfo::exists(path)) {
        write(path);
        return;
    }
    auto* question =
        new QMessageBox(QMessageBox::Question, window_->windowTitle(),
                        tr("%1 already exists. Replace it?").arg(QDir::toNativeSeparators(path)),
                        QMessageBox::Yes | QMessageBox::No, window_);
    question->setDefaultButton(QMessageBox::No);
    question->setWindowModality(Qt::NonModal);
    question->setAttribute(Qt::WA_DeleteOnClose);
    connect(question, &QMessageBox::buttonClicked, this,
            [this, question, path](QAbstractButton* button) {
                if (question->standardButton(button) == QMessageBox::Yes) {
                    write(path);
                }
            });
    question->show();
}

bool FileSaving::write(const QString& path) {
    const QByteArray bytes = contents_(path);
    // Written under a temporary name and renamed at the end: a failed save leaves any earlier
    // file of that name as it was, and its reason is the file's own.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        tellFailure(words_(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    status_->setText(words_(QDir::toNativeSeparators(path), QString()));
    return true;
}

void FileSaving::tellFailure(const QString& text) {
    status_->setText(text);
    if (!failure_) {
        failure_ = new QMessageBox(QMessageBox::Warning, window_->windowTitle(), text,
                                   QMessageBox::Ok, window_);
        failure_->setWindowModality(Qt::NonModal);
    }
    failure_->setText(text);
    failure_->show();
}

} // namespace darq
