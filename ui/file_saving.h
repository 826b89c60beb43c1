#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QFileDialog;
class QLabel;
class QMessageBox;
class QWidget;

namespace darq {

// Saving what a window shows to a file the operator picks. Nothing here waits for an answer in an
// event loop of its own: the file dialog, the question before replacing a file and the word on a
// failure are all non-modal, so the readings go on meanwhile.
class FileSaving : public QObject {
    Q_OBJECT

public:
    // The file's bytes; the ending of `path` may choose the format.
    using Contents = std::function<QByteArray(const QString& path)>;
    // The sentence for the window's status line: the file was written (`reason` empty), or why
    // it was not.
    using Words = std::function<QString(const QString& nativePath, const QString& reason)>;

    FileSaving(QWidget* window, QLabel* status, Contents contents, Words words);

    // Asks where to save. The suffix follows the chosen name filter ("(*.csv)"); a new file is
    // named `namePattern` with the local time for %1.
    void ask(const QString& title, const QStringList& nameFilters, const QString& namePattern);
    // Writes now, over any file of that name. Whether it was written; a failure is told.
    bool write(const QString& path);

private:
    void confirmReplacing(const QString& path);
    void tellFailure(const QString& text);

    QWidget* window_;
    QLabel* status_;
    Contents contents_;
    Words words_;
    QPointer<QFileDialog> dialog_;
    QPointer<QMessageBox> failure_;
};

} // namespace darq
