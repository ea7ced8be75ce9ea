#pragma once
#include <QTextBrowser>

#include <memory>

class ChmFile;

// A text browser that takes its pages, pictures and style sheets out of one CHM file. A page
// of the manual has an address "chm:///HTML/page.htm"; links and pictures inside it are
// relative to that address, so "other.htm#part" and "../images/x.png" resolve inside the
// file. Web links go to the user's default browser.
class ChmBrowser : public QTextBrowser
{
    Q_OBJECT
public:
    explicit ChmBrowser(QWidget* parent = nullptr);
    ~ChmBrowser() override;

    // Reads from this file from now on; false when it cannot be read as a CHM file, and then
    // no page can be shown until another file opens.
    bool OpenManual(const QString& path);
    const ChmFile* Manual() const { return manual_.get(); }

    // The address of a page of the manual: "HTML/page.htm" -> "chm:///HTML/page.htm".
    static QUrl TopicUrl(const QString& topic);

    QVariant loadResource(int type, const QUrl& name) override;

private:
    void FollowLink(const QUrl& url);

    std::unique_ptr<ChmFile> manual_;
};
