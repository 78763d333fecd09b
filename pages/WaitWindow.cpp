#include "pages/WaitWindow.h"

#include "oracle/Blocking.h"
#include "shell/ProgramEnd.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

class WaitWindow : public QDialog {
public:
    WaitWindow(WaitControl& control, QWidget* parent) : QDialog(parent), control_(control)
    {
        setWindowTitle(QStringLiteral("Dervanta"));
        setAccessibleName(QStringLiteral("Waiting for the database"));
        text_ = new QLabel(this);
        text_->setTextFormat(Qt::PlainText);
        text_->setWordWrap(true);
        auto* stop = new QPushButton(QStringLiteral("Stop Waiting"), this);
        auto* quit = new QPushButton(QStringLiteral("Quit"), this);
        stop->setAutoDefault(false);
        quit->setAutoDefault(false);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(stop);
        buttons->addWidget(quit);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(text_);
        layout->addLayout(buttons);
        stop->setFocus();

        connect(stop, &QPushButton::clicked, this, &WaitWindow::reject);
        connect(quit, &QPushButton::clicked, this, [] { EndProgram(0); });
        connect(&control_, &WaitControl::done, this, &WaitWindow::accept);
        connect(&tick_, &QTimer::timeout, this, &WaitWindow::showElapsed);
        tick_.start(1000);
        showElapsed();
    }

    // Esc and Stop Waiting: the call counts as failed; it goes on alone.
    void reject() override
    {
        control_.stopWaiting();
        QDialog::reject();
    }

private:
    void showElapsed()
    {
        const qint64 seconds = (control_.waitedMs() + 500) / 1000;
        text_->setText(QStringLiteral("The database has not answered for %1 seconds.\n\nYou can wait on, stop "
                                      "waiting (what was being done counts as not done), or quit the program.")
                           .arg(seconds));
    }

    WaitControl& control_;
    QLabel* text_ = nullptr;
    QTimer tick_;
};

} // namespace

void InstallWaitWindow()
{
    SetLongWaitHandler([](WaitControl& control) {
        // The pages hold back input while they wait; this window takes it.
        QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
        WaitWindow window(control, QApplication::activeWindow());
        window.exec();
        QGuiApplication::restoreOverrideCursor();
    });
}
