#include "ui/search_dialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace darq {

SearchDialog::SearchDialog(QWidget* parent)
    : QDialog(parent), status_(new QLabel(this)), progress_(new QProgressBar(this)),
      button_(new QPushButton(this)) {
    setObjectName(QStringLiteral("searchDialog"));
    setWindowTitle(tr("Find instrument"));
    setModal(false);
    status_->setWordWrap(true);
    status_->setMinimumWidth(360);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    layout->addWidget(button_, 0, Qt::AlignRight);
    connect(button_, &QPushButton::clicked, this, [this] {
        if (searching_) {
            emit cancelRequested();
        } else {
            close();
        }
    });
}

void SearchDialog::showStarted(int plannedAttempts) {
    searching_ = true;
    progress_->setRange(0, plannedAttempts);
    progress_->setValue(0);
    progress_->show();
    showStatus(tr("Searching the line for an instrument…"));
    button_->setText(tr("Cancel"));
}

void SearchDialog::showProgress(int attemptsDone, int plannedAttempts, int baudRate, int address,
                                qint64 msLeft) {
    progress_->setValue(attemptsDone);
    showStatus(tr("Trying address %1 at %2 Bd (attempt %3 of %4, about %5 s left)")
                   .arg(address)
                   .arg(baudRate)
                   .arg(attemptsDone + 1)
                   .arg(plannedAttempts)
                   .arg((msLeft + 999) / 1000));
}

void SearchDialog::showFinished(const QString& summary) {
    searching_ = false;
    progress_->hide();
    showStatus(summary);
    button_->setText(tr("Close"));
}

void SearchDialog::showStatus(const QString& text) {
    status_->setText(text);
    fitHeightToText();
}

void SearchDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    fitHeightToText();
}

// Qt sizes a window from its contents' heights at their preferred widths; a wrapped text at the
// window's own width may need more lines than that, and the label, too low for them, would cut
// its first and last line.
void SearchDialog::fitHeightToText() {
    const int needed = layout()->totalHeightForWidth(width());
    setMinimumSize(layout()->totalMinimumSize().width(), needed);
    if (height() < needed) {
        resize(width(), needed);
    }
}

void SearchDialog::reject() {
    // Closing the window, by its close box or Escape, stops the search too.
    if (searching_) {
        emit cancelRequested();
    }
    QDialog::reject();
}

} // namespace darq
