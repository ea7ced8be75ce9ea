// Screenshots of the real windows for the README: the main window with a filled list, the
// status board during a batch, the options dialog, the version check and the About box. The
// script puts a slower encoder in front of the real one for the last file, so the board is
// caught while it works.
//   vardune_screenshots OUTPUT_DIR        (run by tools/screenshots.sh under Xvfb)
#include "choicebox.h"
#include "filelistview.h"
#include "form1.h"
#include "frmabout.h"
#include "frmmonitor.h"
#include "frmoption.h"
#include "frmupdate.h"
#include "module1.h"
#include "sandbox.h"
#include "testaudio.h"
#include "vardolistmodel.h"
#include "vardolistview.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QToolButton>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPainter>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

QString g_output;

bool Shoot(QWidget* window, const char* name)
{
    window->raise();
    Wait(300);
    const QString path = g_output + QStringLiteral("/%1.png").arg(QLatin1String(name));
    QPixmap shot = window->grab();
    // Skinned windows are cut to their rounded outline: leave the corners transparent.
    if (!window->mask().isEmpty()) {
        QPixmap cut(shot.size());
        cut.fill(Qt::transparent);
        QPainter painter(&cut);
        painter.setClipRegion(window->mask());
        painter.drawPixmap(0, 0, shot);
        painter.end();
        shot = cut;
    }
    if (!shot.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

template <typename W>
W* Open()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* w = qobject_cast<W*>(window); w && w->isVisible())
            return w;
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vardune_screenshots OUTPUT_DIR\n");
        return 2;
    }
    QTemporaryDir sandbox;
    EnterSandbox(sandbox.path());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vardune"));
    g_output = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_output);
    Module1::Test::SetEndProcessHandler([] {});

    const QString music = QDir::homePath() + QStringLiteral("/Music/Road Trip");
    const QString out = QDir::homePath() + QStringLiteral("/Player");
    QDir().mkpath(music);
    QDir().mkpath(out);
    const char* names[] = {"01 Morning Drive.wav", "02 Open Highway.wav", "03 Desert Lights.wav",
                           "04 Coastline.wav", "05 Night Rain.wav", "06 Home Again.wav"};
    for (int i = 0; i < 6; ++i)
        WriteToneWav(music + QLatin1Char('/') + QLatin1String(names[i]), i == 5 ? 20 : 6 + i, 220 * std::pow(1.12, i));

    Form1 form;
    form.InitForm();
    Module1::settings().profile = {"1- MP3 Potable Player", "2- FM Radio Quality", "1- Stereo", "96"};
    form.ShowStatusBarValue();
    form.resize(900, 520);
    form.show();
    form.ComboBox1->setEditText(QStringLiteral("*.WAV"));
    form.XListView1->SetCurrentFolder(music);
    form.Text1->setText(out);
    WaitFor([&] { return form.XListView1->ShownPaths().size() == 6; }, 10000);

    // Five files converted, then the last one waits while the board runs.
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 5; ++i) {
        const std::string path = Module1::FromQt(music + QLatin1Char('/') + QLatin1String(names[i]));
        files.emplace_back(path, vardune::VardoList::GetFileSize(path));
    }
    form.ListModel->Append(files);
    form.StartVardo->trigger();
    if (!WaitFor([&] { return form.isEnabled() && !Open<frmMonitor>(); }, 60000))
        return 1;
    const std::string last = Module1::FromQt(music + QLatin1Char('/') + QLatin1String(names[5]));
    form.ListModel->Append({{last, vardune::VardoList::GetFileSize(last)}});
    form.ListView1->setColumnWidth(1, 170);
    // The forecast for the waiting file, beside the list.
    WaitFor([&] { return !form.ForecastPanel->text().isEmpty() && !form.ForecastPanel->text().contains(QLatin1String("read)")); }, 10000);
    Wait(500);
    if (!Shoot(&form, "main-window"))
        return 1;

    form.monitorAnimationStep = 60;
    form.StartVardo->trigger();
    QPointer<frmMonitor> board;
    WaitFor([&] { return (board = Open<frmMonitor>()) && board->Label1->text().endsWith(QLatin1String(names[5])); }, 10000);
    // Until the time left can be judged, then a moment for the board to show it.
    WaitFor([&] { return board && board->BatchProgress->text().contains(QLatin1String(", about ")); }, 10000);
    Wait(300);
    if (!board || !Shoot(board, "status-board"))
        return 1;
    WaitFor([&] { return form.isEnabled(); }, 60000);

    form.ShowOptions();
    frmOption* options = Open<frmOption>();
    if (!options || !Shoot(options, "options"))
        return 1;
    options->close();

    // The version check against a small server that announces a newer release.
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            socket->readAll();
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 15\r\nConnection: close\r\n\r\nVardune03.01.00");
            socket->disconnectFromHost();
        });
    });
    auto* update = new frmUpdate;
    update->site = QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
    update->show();
    WaitFor([&] { return update->cmdDownload->isEnabled(); }, 10000);
    WaitFor([&] { return update->cmdDownload->text() == QLatin1String("Download Now"); }, 3000);
    if (!Shoot(update, "version-check"))
        return 1;
    update->close();

    form.ShowAbout();
    frmAbout* about = Open<frmAbout>();
    if (!about || !Shoot(about, "about"))
        return 1;
    about->close();
    Module1::Test::ReleaseInstanceLock();
    return 0;
}
