#include "chmbrowser.h"

#include "chmfile.h"

#include <QDesktopServices>
#include <QImage>
#include <QStringDecoder>

namespace {
const QString kScheme = QStringLiteral("chm");

QString MissingPage(const QString& path)
{
    return QStringLiteral("<html><body><h2>Page not found</h2>"
                          "<p>The manual has no page %1. Press <b>Back</b> to return to the page you came from.</p>"
                          "</body></html>")
        .arg(path.toHtmlEscaped());
}
} // namespace

ChmBrowser::ChmBrowser(QWidget* parent)
    : QTextBrowser(parent)
{
    // Links are followed here: pages of the manual in this window, web pages outside it.
    setOpenLinks(false);
    document()->setDocumentMargin(12);
    connect(this, &QTextBrowser::anchorClicked, this, &ChmBrowser::FollowLink);
}

ChmBrowser::~ChmBrowser() = default;

bool ChmBrowser::OpenManual(const QString& path)
{
    manual_ = std::make_unique<ChmFile>(path);
    if (!manual_->IsOpen())
        manual_.reset();
    return manual_ != nullptr;
}

QUrl ChmBrowser::TopicUrl(const QString& topic)
{
    // A topic may name a part of its page: "HTML/page.htm#part".
    const qsizetype hash = topic.indexOf(QLatin1Char('#'));
    QUrl url;
    url.setScheme(kScheme);
    url.setPath(QString::fromUtf8(ChmFile::ObjectPath(topic.left(hash))));
    if (hash >= 0)
        url.setFragment(topic.mid(hash + 1));
    return url;
}

QVariant ChmBrowser::loadResource(int type, const QUrl& name)
{
    const QUrl url = name.isRelative() ? source().resolved(name) : name;
    // Nothing outside the manual is fetched: no local files, no network.
    if (url.scheme() != kScheme)
        return {};
    const QString path = url.path(QUrl::FullyDecoded);
    const std::optional<QByteArray> bytes = manual_ ? manual_->Read(path) : std::nullopt;
    switch (type) {
    case QTextDocument::HtmlResource: {
        if (!bytes)
            return MissingPage(path);
        QStringDecoder decoder = QStringDecoder::decoderForHtml(*bytes);
        if (!decoder.isValid())
            decoder = QStringDecoder(QStringDecoder::Utf8);
        return QString(decoder(*bytes));
    }
    case QTextDocument::ImageResource:
        return bytes ? QVariant(QImage::fromData(*bytes)) : QVariant();
    case QTextDocument::StyleSheetResource:
        return bytes ? QVariant(QString::fromUtf8(*bytes)) : QVariant();
    default:
        return bytes ? QVariant(*bytes) : QVariant();
    }
}

void ChmBrowser::FollowLink(const QUrl& url)
{
    if (url.scheme() == kScheme) {
        setSource(url);
        return;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto"))
        QDesktopServices::openUrl(url);
}
