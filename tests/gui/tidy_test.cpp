// Tidy the Player with the real encoder: outputs of sources no longer in the list are
// offered, removed after Yes and kept after No; a file Vardune did not make is never listed.
#include "batchwindow.h"
#include "guitestmain.h"
#include "testaudio.h"

#include <QFile>
#include <QFileInfo>

class TidyTest : public QObject, protected BatchWindow {
    Q_OBJECT

private:
    QString encoder_;

    QString Wav(const QString& name)
    {
        QDir().mkpath(QFileInfo(Path(name)).path());
        if (!WriteToneWav(Path(name), 1.0))
            qFatal("cannot write %s", qPrintable(name));
        return Path(name);
    }

    // The outputs now in the output folder, by name relative to it.
    QStringList Outputs() const
    {
        QStringList names;
        const QString root = Path("out") + "/";
        std::function<void(const QString&)> walk = [&](const QString& folder) {
            for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
                if (info.isDir())
                    walk(info.filePath());
                else
                    names << info.filePath().mid(root.size());
            }
        };
        walk(root);
        return names;
    }

    // Two folders converted by a real batch; then the second folder's entries leave the list
    // and one of its sources is deleted, and a file of the user's stands among the outputs.
    void MakePlayerWithStaleOutputs()
    {
        Add({Wav("lib/A/one.wav"), Wav("lib/B/two.wav"), Wav("lib/B/three.wav")});
        QVERIFY(RunBatch());
        QCOMPARE(Outputs().size(), 3);
        QVERIFY(QFile::remove(Path("lib/B/three.wav")));
        form_->ListModel->Clear();
        Add({Path("lib/A/one.wav")});
        QDir().mkpath(Path("out/mine"));
        QFile mine(Path("out/mine/song.mp3"));
        QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("ID3 the user's own file") > 0);
        mine.close();
        Module1::Test::TakeAskedMessages();
    }

private slots:
    void initTestCase()
    {
        Module1::Test::SetEndProcessHandler([] {});
        encoder_ = QCoreApplication::applicationDirPath() + "/fastencc";
        QFile::remove(encoder_);
        QVERIFY(QFile::link(QStringLiteral(FASTENCC_PATH), encoder_));
    }
    void cleanupTestCase() { QFile::remove(encoder_); }
    void init() { OpenMainWindow(); }
    void cleanup() { QVERIFY(CloseMainWindow()); }

    void offeredAndRemovedAfterYes()
    {
        MakePlayerWithStaleOutputs();
        const QStringList before = Outputs();
        QCOMPARE(before.size(), 4);
        Module1::Test::SetNextMessageAnswer(QMessageBox::Yes);
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->findChild<QAction*>(QStringLiteral("TidyThePlayer"))->trigger();
        const auto asked = Module1::Test::TakeAskedMessages();
        QCOMPARE(asked.size(), std::size_t(2));
        QCOMPARE(asked[0].buttons, QMessageBox::Yes | QMessageBox::No);
        // Both outputs of the second folder, whether their source is gone or only left the
        // list; neither the kept output nor the user's file.
        QVERIFY2(asked[0].text.contains("These 2 files"), qPrintable(asked[0].text));
        QVERIFY2(asked[0].text.contains("two") && asked[0].text.contains("three"), qPrintable(asked[0].text));
        QVERIFY2(!asked[0].text.contains("one") && !asked[0].text.contains("mine"), qPrintable(asked[0].text));
        QVERIFY2(asked[1].text.contains("2 files removed."), qPrintable(asked[1].text));
        const QStringList after = Outputs();
        QCOMPARE(after.size(), 2);
        QVERIFY(after.contains("mine/song.mp3"));
        QVERIFY2(after.filter("one").size() == 1, qPrintable(after.join(", ")));

        // Once tidy, there is nothing more to offer.
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->TidyThePlayer->trigger();
        const auto again = Module1::Test::TakeAskedMessages();
        QCOMPARE(again.size(), std::size_t(1));
        QVERIFY2(again[0].text.startsWith("Nothing to tidy"), qPrintable(again[0].text));
    }

    void keptAfterNo()
    {
        MakePlayerWithStaleOutputs();
        const QStringList before = Outputs();
        Module1::Test::SetNextMessageAnswer(QMessageBox::No);
        form_->TidyThePlayer->trigger();
        const auto asked = Module1::Test::TakeAskedMessages();
        QCOMPARE(asked.size(), std::size_t(1));
        QVERIFY2(asked[0].text.contains("These 2 files"), qPrintable(asked[0].text));
        QCOMPARE(Outputs(), before);
    }
};

VARDUNE_GUI_TEST_MAIN(TidyTest)
#include "tidy_test.moc"
