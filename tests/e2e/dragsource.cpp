// Stands in for a file manager in the end-to-end tests: a small window at a given place that,
// when the mouse is pressed on it, drags the files and folders named on its command line as
// file URLs, the way a file manager offers them to other programs over X.
// Usage: dragsource X Y PATH...   Prints "ready" once its window is on the screen and
// "dropped ACTION" when the drag has ended (1 copy, 0 refused).
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <QUrl>
#include <QWidget>

#include <cstdio>

class DragSource : public QWidget {
public:
    explicit DragSource(QList<QUrl> urls)
        : urls_(std::move(urls))
    {
        setWindowTitle(QStringLiteral("drag source"));
    }

protected:
    void mousePressEvent(QMouseEvent*) override
    {
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls(urls_);
        drag->setMimeData(data);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        std::printf("dropped %d\n", int(action));
        std::fflush(stdout);
    }

private:
    QList<QUrl> urls_;
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 4)
        return 2;
    QList<QUrl> urls;
    // By the paths' bytes, as a file manager offers them: a name need not be UTF-8.
    for (int i = 3; i < argc; ++i)
        urls << QUrl::fromEncoded("file://" + QByteArray(argv[i]).toPercentEncoding("/"));
    DragSource source(urls);
    source.setGeometry(QString::fromLatin1(argv[1]).toInt(), QString::fromLatin1(argv[2]).toInt(), 120, 120);
    source.show();
    if (!QTest::qWaitForWindowExposed(&source))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}
