#pragma once
#include "configtable.h"
#include "textbridge.h"

#include <QMap>
#include <QMessageBox>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

// The shared module: the settings of the run, the files the program keeps, and the procedures
// every window uses (messages, the folder picker, the desktop's openers). The settings are the
// program's only global state. The entry point (main.cpp) starts the window or the command line
// over them.
namespace Module1 {

// Settings, loaded once while the main window loads and saved once when it closes.
vardune::Settings& settings();

// The windows' shorthand for the bridge between the program's texts and Qt's.
using TextBridge::ToQt;
using TextBridge::FromQt;

// The folder the program's file lives in and the program's version constant.
QString ProgramFolder();
inline constexpr const char* kVersion = vardune::ConfigTable::kVersionConstant;
// The user's home folder with a trailing separator: the folder a first start shows.
QString DefaultFolder();
// The manual: beside the program, or in the installed folder of an installed copy.
QString ManualFile();
// Vardune.ini beside the program when that folder is writable and the copy is not installed
// (a build tree, a portable copy), else in the user's configuration folder.
QString ConfigFilePath();
// The file that keeps the Vardo list from one run to the next, in the user's data folder
// (~/.local/share/Vardune/VardoList.txt); empty when the user has no data folder.
QString VardoListFilePath();
// The playlists the Vardo list carries, kept beside it; empty as VardoListFilePath is.
QString CarriedPlaylistsFilePath();
// The manual, recorded while the main window loads.
QString& helpFile();


// Loads the settings. What stands at the settings file's name and could hold no settings (a
// FIFO, a device, a file over 1 MB) is not read: the defaults are used, and why is returned
// ("it is a FIFO"); else an empty text.
std::string ReadConfig();
void WriteConfig(const QString& sourceFolder);
// Renames a file the program keeps that could not be read as one out of the way of its next
// save, beside it (".damaged-YYYYMMDD-HHMMSS"): its new path, or an empty text when it could
// not be renamed.
QString SetAside(const QString& path);

// True when another instance already runs for this user. The first call takes the instance
// lock and holds it for the rest of the run; a lock left by a process that died is taken over.
bool PrevInstance();
// The folder of the instance lock: the user's runtime folder, or the temporary folder.
QString InstanceFolder();

// Every message box of the program goes through here.
struct MessageRequest {
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    // Buttons that say what they do instead of their standard words.
    QMap<QMessageBox::StandardButton, QString> buttonTexts = {};
    // A long list the text speaks of, every line of it, shown open below the text and
    // scrolled there.
    QString details = QString();
};
QMessageBox::StandardButton MsgBox(QWidget* parent, const MessageRequest& request);

// The system's folder picker, opened at start: the chosen folder, or an empty text when
// cancelled.
QString BrowseForFolder(QWidget* owner, const QString& title, const QString& start);

// Opens a web page in the user's default browser; returns at once.
void OpenWebPage(const QString& url);
// Opens a file with the desktop's program for its type; returns at once. Where the desktop
// has no program to open it with, a message over owner says so, now or when the desktop's
// opener has given up.
void OpenFile(QWidget* owner, const QString& path);
// Shows a file in the desktop's file manager, picked out where a file manager offers that
// (org.freedesktop.FileManager1 on the session bus), else opens its folder; returns at once.
// Where nothing can show the folder, a message over owner says so.
void ShowInFolder(QWidget* owner, const QString& path);
// The vendor's web site, a setting of the build: "http://host".
QString VendorSite();

// Ends the process at once, after the caller has saved what must be saved. Only under a
// test's handler does it return, and then the caller returns at once too.
void EndProcess();

// The program's one pseudo-random generator, never seeded, so every run draws the same
// sequence: the next number, uniform in [0, 1).
float Random();

// Registers the program's pictures; every window calls it before it loads one.
void LoadResources();


// Seams for the tests: answers given in advance instead of a dialog, and what was asked.
namespace Test {
void SetNextMessageAnswer(QMessageBox::StandardButton answer);
std::vector<MessageRequest> TakeAskedMessages();
void SetNextFolderAnswer(const QString& folder);
QStringList TakeFolderTitles();
// The folders the pickers that were answered would have opened at.
QStringList TakeFolderStarts();
// Replaces ending the process, so a test sees the call instead of ending.
void SetEndProcessHandler(std::function<void()> handler);
void ReleaseInstanceLock();
// Web pages are recorded instead of opened while capturing.
void CaptureWebPages(bool capture);
QStringList TakeOpenedWebPages();
// Files to open and files to show in their folder are recorded instead, as "open PATH" and
// "show PATH", while capturing.
void CaptureDesktopRequests(bool capture);
QStringList TakeDesktopRequests();
// Replaces the random generator; an empty function restores it.
void SetRandom(std::function<float()> random);
} // namespace Test

} // namespace Module1
