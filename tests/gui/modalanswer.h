#pragma once
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <functional>

// Answers the next modal dialog as a person would, once it shows, and remembers its text.
class ModalAnswer : public QObject {
public:
    explicit ModalAnswer(std::function<void(QWidget*)> answer)
        : answer_(std::move(answer))
    {
        connect(&timer_, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            timer_.stop();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                text = box->text();
                title = box->windowTitle();
            }
            answer_(modal);
        });
        timer_.start(50);
    }
    QString text, title;

private:
    std::function<void(QWidget*)> answer_;
    QTimer timer_;
};
