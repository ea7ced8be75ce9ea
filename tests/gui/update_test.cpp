#include "digitaldisplay.h"
#include "form1.h"
#include "frmupdate.h"
#include "guitestmain.h"
#include "helpwindow.h"
#include "module1.h"

#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QToolButton>

namespace {

// A small real HTTP server on 127.0.0.1: answers every GET with the status and body it was
// given, or holds the connection without a word, or streams a body of many megabytes, or
// trickles a body one byte every 100 ms.
class HttpServer : public QObject {
public:
    enum class Mode { Answer, Stall, Huge, Trickle };

    HttpServer()
    {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                socket->setParent(this);
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Serve(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, this, [this] { ++disconnects; });
            }
        });
    }

    QString Site() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }
    void Close() { server_.close(); }

    Mode mode = Mode::Answer;
    QByteArray status = "200 OK";
    QByteArray body;
    qint64 hugeSize = 64 * 1024 * 1024;
    QList<QByteArray> paths;
    qint64 sent = 0;
    int disconnects = 0;

private:
    void Serve(QTcpSocket* socket)
    {
        const QByteArray request = socket->readAll();
        if (!request.startsWith("GET "))
            return;
        paths << request.split(' ').value(1);
        if (mode == Mode::Stall)
            return;
        if (mode == Mode::Trickle) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 4096\r\n\r\n");
            auto* drip = new QTimer(socket);
            QObject::connect(drip, &QTimer::timeout, socket, [this, socket] { sent += socket->write("x"); });
            drip->start(100);
            return;
        }
        if (mode == Mode::Answer) {
            socket->write("HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size())
                          + "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
            return;
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(hugeSize) + "\r\n\r\nVardune03.00.02");
        sent = 15;
        // Keep the pipe full while the client reads; stop when it goes away.
        QObject::connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            if (socket->bytesToWrite() < 256 * 1024 && sent < hugeSize && socket->state() == QAbstractSocket::ConnectedState) {
                const QByteArray chunk(qMin<qint64>(256 * 1024, hugeSize - sent), 'x');
                sent += socket->write(chunk);
            }
        });
        const QByteArray chunk(256 * 1024, 'x');
        sent += socket->write(chunk);
    }

    QTcpServer server_;
};

QImage Readout(frmUpdate* window, const QString& text)
{
    QLabel scratch;
    scratch.setPalette(window->picVer2->palette());
    DisplayDigital(&scratch, text, window->Picture1);
    return scratch.pixmap().toImage();
}

// The open help window that belongs to owner.
HelpWindow* HelpOf(const QWidget* owner)
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* help = qobject_cast<HelpWindow*>(window); help && help->isVisible() && help->Owner() == owner)
            return help;
    return nullptr;
}

const QColor kNavy(0, 0, 128), kPurple(200, 0, 200), kRed(255, 0, 0);

} // namespace

class UpdateTest : public QObject {
    Q_OBJECT

private:
    HttpServer* server_ = nullptr;

    frmUpdate* Open(int timeout = 60000)
    {
        auto* window = new frmUpdate;
        window->site = server_->Site();
        window->requestTimeout = timeout;
        window->show();
        return window;
    }

    static QColor Colour(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

private slots:
    void initTestCase() { Module1::Test::CaptureWebPages(true); }
    void init() { server_ = new HttpServer; }
    void cleanup()
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (qobject_cast<frmUpdate*>(window))
                window->close();
        QCoreApplication::processEvents();
        delete server_;
    }

    void bodiesGiveTheirEndState_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("shown");
        QTest::newRow("same version") << QByteArray("Vardune03.00.01") << "up to date" << "03.00.01";
        QTest::newRow("newer, line break") << QByteArray("Vardune03.00.02\r\n") << "newer" << "03.00.02";
        QTest::newRow("digit 3 first") << QByteArray("Vardune3.00.00a") << "newer" << "3.00.00a";
        QTest::newRow("older") << QByteArray("Vardune02.09.09") << "up to date" << "02.09.09";
        QTest::newRow("other letter case") << QByteArray("VARDUNE03.00.02") << "failed" << "........";
        QTest::newRow("other text") << QByteArray("<html>Not here</html>") << "failed" << "........";
        QTest::newRow("13 characters") << QByteArray("Vardune03.00.") << "failed" << "........";
        QTest::newRow("14 characters") << QByteArray("Vardune3.00.01") << "newer" << "3.00.01";
        QTest::newRow("empty body") << QByteArray() << "failed" << "........";
    }

    void bodiesGiveTheirEndState()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, state);
        QFETCH(QString, shown);
        server_->body = body;
        frmUpdate* window = Open();
        QCOMPARE(window->Label1->text(), QStringLiteral("Connecting to internet......"));
        QCOMPARE(window->picVer1->pixmap().toImage(), Readout(window, "03.00.01"));
        QCOMPARE(window->picVer2->pixmap().toImage(), Readout(window, "........"));
        QVERIFY(!window->cmdDownload->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!window->Label1->text().startsWith("Connecting"), 10000);
        QCOMPARE(server_->paths, QList<QByteArray>({"/download/Vardune.txt"}));
        QCOMPARE(window->picVer2->pixmap().toImage(), Readout(window, shown));
        QVERIFY(!window->Timer1->isActive());
        if (state == "newer") {
            QCOMPARE(window->Label1->text(), QStringLiteral("Find new version, you can donwload it now"));
            QCOMPARE(Colour(window->Label1), kNavy);
            QVERIFY(window->cmdDownload->isEnabled());
            QVERIFY(window->Timer3->isActive());
        } else if (state == "up to date") {
            QCOMPARE(window->Label1->text(), QStringLiteral("Not find new version, please check later"));
            QCOMPARE(Colour(window->Label1), kPurple);
            QVERIFY(!window->cmdDownload->isEnabled());
        } else {
            QCOMPARE(window->Label1->text(), QStringLiteral("Cannot get information from internet, please check later"));
            QCOMPARE(Colour(window->Label1), kRed);
            QVERIFY(!window->cmdDownload->isEnabled());
            QVERIFY(!window->Timer3->isActive());
        }
    }

    void newerReleaseBlinksAndOpensTheDownloadPage()
    {
        server_->body = "Vardune03.00.02";
        frmUpdate* window = Open();
        QTRY_VERIFY_WITH_TIMEOUT(window->cmdDownload->isEnabled(), 10000);
        QCOMPARE(window->cmdDownload->text(), QStringLiteral("Download Now"));
        QTRY_COMPARE_WITH_TIMEOUT(window->cmdDownload->text(), QStringLiteral("   "), 3000);
        QVERIFY(window->cmdDownload->isEnabled());
        window->cmdDownload->click();
        QTRY_COMPARE_WITH_TIMEOUT(window->cmdDownload->text(), QStringLiteral("Download Now"), 3000);
        QCOMPARE(Module1::Test::TakeOpenedWebPages(), QStringList({server_->Site() + "/download/download.htm"}));
        QVERIFY(window->isVisible());
    }

    void faultsEndInTheFailedState_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("connection refused") << "refused";
        QTest::newRow("HTTP 404 page") << "404";
        QTest::newRow("server stalls") << "stall";
        QTest::newRow("server trickles past the time limit") << "trickle";
    }

    void faultsEndInTheFailedState()
    {
        QFETCH(QString, fault);
        int timeout = 60000;
        if (fault == "refused") {
            server_->Close();
        } else if (fault == "404") {
            server_->status = "404 Not Found";
            server_->body = "Vardune03.00.02";  // even a page that looks right is an error page
        } else {
            server_->mode = fault == "stall" ? HttpServer::Mode::Stall : HttpServer::Mode::Trickle;
            timeout = 800;
        }
        frmUpdate* window = Open(timeout);
        QTRY_COMPARE_WITH_TIMEOUT(window->Label1->text(),
                                  QStringLiteral("Cannot get information from internet, please check later"), 10000);
        // The limit holds for the whole request, however steadily the bytes come.
        if (fault == "trickle")
            QVERIFY2(server_->sent > 0 && server_->sent < 30, qPrintable(QString::number(server_->sent)));
        QCOMPARE(Colour(window->Label1), kRed);
        QCOMPARE(window->picVer2->pixmap().toImage(), Readout(window, "........"));
    }

    void aHugeBodyIsReadOnlyAtItsStart()
    {
        server_->mode = HttpServer::Mode::Huge;
        frmUpdate* window = Open();
        QTRY_COMPARE_WITH_TIMEOUT(window->Label1->text(), QStringLiteral("Find new version, you can donwload it now"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(server_->disconnects == 1, 5000);
        QVERIFY2(server_->sent < server_->hugeSize / 4, qPrintable(QString::number(server_->sent)));
    }

    void closingDuringTheFetchLeavesNothingBehind()
    {
        server_->mode = HttpServer::Mode::Stall;
        QPointer<frmUpdate> window = Open();
        QTRY_VERIFY_WITH_TIMEOUT(!server_->paths.isEmpty(), 5000);
        window->Command4->click();
        QTRY_VERIFY(!window);
        QTRY_VERIFY_WITH_TIMEOUT(server_->disconnects == 1, 5000);

        // Closed within the first second: no fetch at all.
        server_->paths.clear();
        window = Open();
        window->close();
        QTest::qWait(1300);
        QVERIFY(server_->paths.isEmpty());
    }

    void helpOpensTheGuideOwnedByTheAskingWindow()
    {
        Module1::helpFile() = QStringLiteral(VARDUNE_MANUAL);
        server_->mode = HttpServer::Mode::Stall;
        frmUpdate* window = Open();
        window->Command5->click();
        HelpWindow* help = HelpOf(window);
        QVERIFY(help);
        QVERIFY(help->isVisible());
        QVERIFY(help->Problem().isEmpty());
        QVERIFY(window->isVisible());

        Module1::Test::SetEndProcessHandler([] {});
        Form1 form;
        form.InitForm();
        Module1::helpFile() = QStringLiteral(VARDUNE_MANUAL);
        form.ActiveHelp->trigger();
        HelpWindow* formHelp = HelpOf(&form);
        QVERIFY(formHelp && formHelp != help);
        QVERIFY(formHelp->Problem().isEmpty());
        // A manual that is not there says so in the help window.
        Module1::helpFile() = QStringLiteral("/nowhere/VarduneManual.chm");
        form.ActiveHelp->trigger();
        QVERIFY(!formHelp->Problem().isEmpty());
        Module1::Test::ReleaseInstanceLock();
    }

    void oneWindowAtATimeFromTheMainWindow()
    {
        Module1::Test::SetEndProcessHandler([] {});
        Form1 form;
        form.InitForm();
        form.CheckNewVersion->trigger();
        frmUpdate* first = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* u = qobject_cast<frmUpdate*>(w); u && u->isVisible())
                first = u;
        QVERIFY(first);
        first->site = server_->Site();
        server_->body = "Vardune03.00.01";
        QTRY_VERIFY_WITH_TIMEOUT(first->Label1->text().startsWith("Not find"), 10000);
        form.CheckNewVersion->trigger();
        QTest::qWait(1300);
        QCOMPARE(server_->paths.size(), 1);
        int open = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            open += qobject_cast<frmUpdate*>(w) && w->isVisible();
        QCOMPARE(open, 1);
        Module1::Test::ReleaseInstanceLock();
    }
};

VARDUNE_GUI_TEST_MAIN(UpdateTest)
#include "update_test.moc"
