#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace darq {

// The search's window beside the main one: how far it is, a button to stop it, and at the end
// what was heard. Never modal: the main window stays usable while the line is searched.
class SearchDialog : public QDialog {
    Q_OBJECT

public:
    explicit SearchDialog(QWidget* parent = nullptr);

    void showStarted(int plannedAttempts);
    void showProgress(int attemptsDone, int plannedAttempts, int baudRate, int address,
                      qint64 msLeft);
    void showFinished(const QString& summary);

    void reject() override;

protected:
    void resizeEvent(QResizeEvent* event) override;

signals:
    // The operator asked to stop the search under way.
    void cancelRequested();

private:
    void showStatus(const QString& text);
    // Keeps the window at least as high as its wrapped text needs at the window's width.
    void fitHeightToText();

    QLabel* status_;
    QProgressBar* progress_;
    QPushButton* button_;
    bool searching_ = false;
};

} // namespace darq
