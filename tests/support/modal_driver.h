#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

// Answers a real modal dialog as a user would: waits until a dialog of type T
// is the active modal widget, then runs answer on it. The dialog's own event
// loop runs the check, so this is set up before the command that opens it.
template <typename T>
void whenModal(std::function<void(T *)> answer, int timeoutMs = 10000)
{
    auto *timer = new QTimer(qApp);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer, deadline] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            answer(dialog);
        } else if (deadline.hasExpired()) {
            timer->deleteLater();
            timer->stop();
            qWarning("no modal dialog of the expected type appeared");
        }
    });
    timer->start(10);
}
