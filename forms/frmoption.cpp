#include "frmoption.h"

#include "choicebox.h"
#include "formcontrols.h"
#include "module1.h"
#include "twips.h"

#include "encodingprofile.h"
#include "loudnesslevel.h"
#include "outputlayout.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <utility>

namespace {

QLabel* PictureBox(QWidget* parent, const char* name)
{
    auto* picture = new QLabel(parent);
    picture->setObjectName(QLatin1String(name));
    picture->setAlignment(Qt::AlignCenter);
    return picture;
}

// Fills a box with its list; the text it should show is the profile's text, or the first
// entry when the profile's text stands for no entry.
template <std::size_t N>
QString Fill(QComboBox* box, const std::array<std::string, N>& list, const std::string& text)
{
    box->clear();
    for (const std::string& entry : list)
        box->addItem(Module1::ToQt(entry));
    return Module1::ToQt(vardune::EncodingProfile::IsUsableText(text) ? text : list[0]);
}

} // namespace

frmOption::frmOption(QWidget* main, Preview preview)
    : SkinnedWindow(QStringLiteral("Vardune Options"), Twips::ToPixels(5175), Twips::ToPixels(9240))
    , main_(main)
    , preview_(std::move(preview))
{
    setObjectName(QStringLiteral("frmOption"));
    setAttribute(Qt::WA_DeleteOnClose);

    Frame1 = new QWidget(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(Twips::ToRect({360, 600, 4335, 4215}));

    Combo1 = new QComboBox(Frame1);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Label2 = NewCaption(Frame1, "Label2", QStringLiteral("My Potable Player:"), {}, QColor(0, 0, 192));
    Picture3 = PictureBox(Frame1, "Picture3");
    Combo2 = new ChoiceBox(Frame1);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    Picture4 = PictureBox(Frame1, "Picture4");
    Label3 = NewCaption(Frame1, "Label3", QStringLiteral("Quality I Prefer"), {}, QColor(0, 0, 192));
    Picture5 = PictureBox(Frame1, "Picture5");
    Combo3 = new ChoiceBox(Frame1);
    Combo3->setObjectName(QStringLiteral("Combo3"));
    Label4 = NewCaption(Frame1, "Label4", QStringLiteral("Effect I want:"), {}, QColor(0, 0, 192));
    // OK and Cancel close the whole dialog: at its bottom, below every group.
    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command2->setObjectName(QStringLiteral("Command2"));

    const struct {
        QWidget* control;
        vardune::TwipsRect at;
    } placed[] = {
        {Combo1, {120, 480, 2535, 315}},   {Label2, {120, 240, 2175, 315}},   {Picture3, {2760, 240, 1335, 1455}},
        {Combo2, {1680, 2160, 2535, 315}}, {Picture4, {240, 1080, 1395, 1455}}, {Label3, {1680, 1920, 2355, 315}},
        {Picture5, {2760, 2640, 1455, 1455}}, {Combo3, {120, 3000, 2535, 315}}, {Label4, {120, 2760, 2115, 315}},
    };
    for (const auto& p : placed)
        p.control->setGeometry(Twips::ToRect(p.at));
    // A screen reader names each box by its caption, not by the text it shows.
    Combo1->setAccessibleName(tr("My Potable Player"));
    Combo2->setAccessibleName(tr("Quality I Prefer"));
    Combo3->setAccessibleName(tr("Effect I want"));
    for (ChoiceBox* box : {Combo2, Combo3})
        box->lineEdit()->setAccessibleName(box->accessibleName());
    // Tab order as the dialog is read: device, its picture, quality, channel, where outputs
    // go, even loudness, OK, Cancel.
    QWidget::setTabOrder(Combo1, Combo2);
    QWidget::setTabOrder(Combo2, Combo3);

    // Where outputs go: a group of its own below the profile's.
    Frame2 = new QWidget(this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setGeometry(Twips::ToRect({360, 4920, 4335, 2400}));
    Label5 = NewCaption(Frame2, "Label5", QStringLiteral("Where outputs go:"), {}, QColor(0, 0, 192));
    Option1 = new QRadioButton(QStringLiteral("One folder, V_ names"), Frame2);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2 = new QRadioButton(QStringLiteral("Keep the folders"), Frame2);
    Option2->setObjectName(QStringLiteral("Option2"));
    Option3 = new QRadioButton(QStringLiteral("Names from tags:"), Frame2);
    Option3->setObjectName(QStringLiteral("Option3"));
    Text1 = new QLineEdit(Frame2);
    Text1->setAccessibleName(tr("Name pattern"));
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setPlaceholderText(Module1::ToQt(vardune::OutputLayout::kDefaultPattern));
    Label6 = new QLabel(Frame2);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label6->setWordWrap(true);
    Label6->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const struct {
        QWidget* control;
        vardune::TwipsRect at;
    } group[] = {
        {Label5, {120, 120, 4095, 255}}, {Option1, {120, 420, 4095, 255}}, {Option2, {120, 700, 4095, 255}},
        {Option3, {120, 980, 4095, 255}}, {Text1, {360, 1260, 3855, 315}}, {Label6, {360, 1620, 3855, 720}},
    };
    for (const auto& p : group)
        p.control->setGeometry(Twips::ToRect(p.at));
    // The pattern box shows a whole pattern, the default one at least, in the font it has here:
    // the dialog grows wider for it where the face that stands in is wide.
    const int patternWidth = Text1->fontMetrics().horizontalAdvance(Module1::ToQt(vardune::OutputLayout::kDefaultPattern))
                             + Text1->fontMetrics().averageCharWidth() * 2 + 12;
    const int growth = std::max(0, patternWidth - Text1->width());
    if (growth > 0) {
        setFixedSize(width() + growth, height());
        Frame2->resize(Frame2->width() + growth, Frame2->height());
        for (QWidget* wide : {static_cast<QWidget*>(Text1), static_cast<QWidget*>(Label6)})
            wide->resize(wide->width() + growth, wide->height());
    }
    QWidget::setTabOrder(Combo3, Option1);
    QWidget::setTabOrder(Option1, Option2);
    QWidget::setTabOrder(Option2, Option3);
    QWidget::setTabOrder(Option3, Text1);
    for (QRadioButton* option : {Option1, Option2, Option3})
        connect(option, &QRadioButton::toggled, this, &frmOption::ShowLayoutPreview);
    connect(Text1, &QLineEdit::textChanged, this, &frmOption::ShowLayoutPreview);

    // Even loudness: a group of its own below where outputs go; off unless asked for.
    Frame3 = new QWidget(this);
    Frame3->setObjectName(QStringLiteral("Frame3"));
    Frame3->setGeometry(Twips::ToRect({360, 7440, 4335, 600}));
    Label7 = NewCaption(Frame3, "Label7", QStringLiteral("Even loudness:"), {}, QColor(0, 0, 192));
    Combo4 = new QComboBox(Frame3);
    Combo4->setAccessibleName(tr("Even loudness"));
    Combo4->setObjectName(QStringLiteral("Combo4"));
    Combo4->addItems({QStringLiteral("Off"), QStringLiteral("Per track"), QStringLiteral("Per album")});
    Combo4->setToolTip(QStringLiteral("Brings every output to the same loudness (ReplayGain's -18 LUFS) without "
                                      "clipping; per album keeps the tracks of an album as loud as each other were"));
    Label7->setGeometry(Twips::ToRect({120, 150, 1700, 315}));
    Combo4->setGeometry(Twips::ToRect({1860, 135, 2355, 315}));
    Frame3->resize(Frame2->width(), Frame3->height());
    QWidget::setTabOrder(Text1, Combo4);
    // OK and Cancel at the bottom right, below the last group.
    const QRect last = Frame3->geometry();
    const QSize button = Twips::ToRect({0, 0, 1095, 495}).size();
    const int gap = Twips::ToPixels(120);
    Command2->setGeometry(last.right() + 1 - button.width(), last.bottom() + 1 + gap, button.width(), button.height());
    Command1->setGeometry(Command2->x() - gap - button.width(), Command2->y(), button.width(), button.height());
    QWidget::setTabOrder(Combo4, Command1);
    QWidget::setTabOrder(Command1, Command2);

    ImageList1.resize(12);
    for (int i = 1; i <= 11; ++i)
        ImageList1[i] = QPixmap(QStringLiteral(":/options/option%1.png").arg(i, 2, 10, QLatin1Char('0')));

    // A choice from a list shows its picture; typing does not.
    connect(Combo1, &QComboBox::activated, this, &frmOption::SetPicture);
    for (ChoiceBox* box : {Combo2, Combo3})
        connect(box, &ChoiceBox::Chosen, this, &frmOption::SetPicture);
    connect(Command1, &QPushButton::clicked, this, &frmOption::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &QWidget::close);

    Form_Load();
}

void frmOption::Form_Load()
{
    SetFormSkin();
    QPalette grey = Frame1->palette();
    grey.setColor(QPalette::Window, QColor(207, 207, 207));
    Frame1->setPalette(grey);
    Frame1->setAutoFillBackground(true);
    Frame2->setPalette(grey);
    Frame2->setAutoFillBackground(true);
    Frame3->setPalette(grey);
    Frame3->setAutoFillBackground(true);
    Combo4->setCurrentIndex(static_cast<int>(vardune::LoudnessLevel::ModeFrom(Module1::settings().evenLoudness)));

    const vardune::EncodingProfile& profile = Module1::settings().profile;
    // A list-only box cannot show a text that is no entry: it shows the first entry.
    const int device = Combo1->findText(Fill(Combo1, vardune::EncodingProfile::DeviceList(), profile.device),
                                        Qt::MatchExactly | Qt::MatchCaseSensitive);
    Combo1->setCurrentIndex(device >= 0 ? device : 0);
    Combo2->ShowText(Fill(Combo2, vardune::EncodingProfile::QualityList(), profile.quality));
    Combo3->ShowText(Fill(Combo3, vardune::EncodingProfile::ChannelList(), profile.channel));
    SetPicture();

    const vardune::OutputLayout layout
        = vardune::OutputLayout::FromSettings(Module1::settings().outputLayout, Module1::settings().namePattern);
    // The stored text, even one that cannot serve: the preview says why, and the user mends
    // it rather than finding it replaced.
    const std::string& stored = Module1::settings().namePattern;
    Text1->setText(Module1::ToQt(stored.empty() ? std::string(vardune::OutputLayout::kDefaultPattern) : stored));
    (layout.Layout() == vardune::OutputLayout::Kind::KeepFolders     ? Option2
     : layout.Layout() == vardune::OutputLayout::Kind::NamesFromTags ? Option3
                                                                      : Option1)
        ->setChecked(true);
    ShowLayoutPreview();
}

void frmOption::ShowLayoutPreview()
{
    using vardune::OutputLayout;
    Text1->setEnabled(Option3->isChecked());
    const std::string pattern = LayoutPattern();
    if (Option3->isChecked()) {
        if (const auto reason = OutputLayout::Check(pattern)) {
            Label6->setStyleSheet(QStringLiteral("color: rgb(192, 0, 0);"));
            Label6->setText(Module1::ToQt(*reason));
            return;
        }
    }
    const OutputLayout::Kind kind = Option2->isChecked()   ? OutputLayout::Kind::KeepFolders
                                    : Option3->isChecked() ? OutputLayout::Kind::NamesFromTags
                                                           : OutputLayout::Kind::OneFolder;
    // The selected entry of the Vardo list, with the tags the encoder read of it; else a
    // sample file, so the pattern's effect shows before anything is added.
    OutputLayout::Source source {"/Music/Artist/Album/01 Song.flac", "/Music/",
                                 {"Artist", "", "Album", "Song", "1", "", "2001", "Genre"}};
    if (main_ && preview_.source)
        if (const auto selected = preview_.source())
            source = *selected;
    vardune::BatchWalk::NameRules rules;
    rules.portable = main_ && preview_.portable && preview_.portable();
    const OutputLayout layout(kind, pattern);
    Label6->setStyleSheet(QString());
    Label6->setText(Module1::ToQt(layout.PlanFor(source, rules).Relative(rules)));
}

void frmOption::SetPicture()
{
    const auto number = [](QComboBox* box) {
        return vardune::EncodingProfile::EntryNumber(Module1::FromQt(box->currentText()));
    };
    const auto show = [this](QLabel* picture, double entry, std::initializer_list<int> indexes) {
        int k = 1;
        for (int index : indexes) {
            if (entry == k) {
                picture->setPixmap(ImageList1.value(index));
                picture->setProperty("pictureIndex", index);
                return;
            }
            ++k;
        }
    };
    show(Picture3, number(Combo1), {1, 2, 3, 4, 10});
    show(Picture4, number(Combo2), {5, 6, 7, 11});
    show(Picture5, number(Combo3), {8, 9});
}

void frmOption::Command1_Click()
{
    using vardune::OutputLayout;
    const std::string pattern = LayoutPattern();
    if (Option3->isChecked()) {
        if (const auto reason = OutputLayout::Check(pattern)) {
            // Nothing is taken until the pattern can serve: the dialog stays as it is.
            Module1::MsgBox(this, {QStringLiteral("The name pattern cannot be used: ") + Module1::ToQt(*reason),
                                   QStringLiteral("Name Pattern"), QMessageBox::Warning, QMessageBox::Ok,
                                   QMessageBox::NoButton});
            Text1->setFocus();
            return;
        }
    }
    vardune::EncodingProfile& profile = Module1::settings().profile;
    profile.channel = Module1::FromQt(Combo3->currentText());
    profile.device = Module1::FromQt(Combo1->currentText());
    profile.quality = Module1::FromQt(Combo2->currentText());
    Module1::settings().outputLayout = OutputLayout::KindText(Option2->isChecked()   ? OutputLayout::Kind::KeepFolders
                                                              : Option3->isChecked() ? OutputLayout::Kind::NamesFromTags
                                                                                     : OutputLayout::Kind::OneFolder);
    // The pattern is kept whichever layout is chosen, so it is there when names from tags are
    // chosen again; one that cannot serve leaves the stored one.
    if (!OutputLayout::Check(pattern))
        Module1::settings().namePattern = pattern;
    Module1::settings().evenLoudness
        = vardune::LoudnessLevel::ModeText(static_cast<vardune::LoudnessLevel::Mode>(std::clamp(Combo4->currentIndex(), 0, 2)));
    close();
}

std::string frmOption::LayoutPattern() const
{
    const std::string typed = Module1::FromQt(Text1->text());
    return typed.empty() ? std::string(vardune::OutputLayout::kDefaultPattern) : typed;
}

void frmOption::ShowStatusBarValue()
{
    if (main_)
        emit StatusBarValueWanted();
}

void frmOption::closeEvent(QCloseEvent* event)
{
    ShowStatusBarValue();
    event->accept();
}
