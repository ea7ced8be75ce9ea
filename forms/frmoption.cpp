#include "frmoption.h"

#include "choicebox.h"
#include "form1.h"
#include "formcontrols.h"
#include "module1.h"
#include "twips.h"

#include "encodingprofile.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

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

frmOption::frmOption(Form1* main)
    : SkinnedWindow(QStringLiteral("Vardune Options"), Twips::ToPixels(5175), Twips::ToPixels(5280))
    , main_(main)
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
    Command1 = new QPushButton(QStringLiteral("OK"), Frame1);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2 = new QPushButton(QStringLiteral("Cancel"), Frame1);
    Command2->setObjectName(QStringLiteral("Command2"));

    const struct {
        QWidget* control;
        vardune::TwipsRect at;
    } placed[] = {
        {Combo1, {120, 480, 2535, 315}},   {Label2, {120, 240, 2175, 315}},   {Picture3, {2760, 240, 1335, 1455}},
        {Combo2, {1680, 2160, 2535, 315}}, {Picture4, {240, 1080, 1395, 1455}}, {Label3, {1680, 1920, 2355, 315}},
        {Picture5, {2760, 2640, 1455, 1455}}, {Combo3, {120, 3000, 2535, 315}}, {Label4, {120, 2760, 2115, 315}},
        {Command1, {240, 3600, 1095, 495}}, {Command2, {1440, 3600, 1095, 495}},
    };
    for (const auto& p : placed)
        p.control->setGeometry(Twips::ToRect(p.at));
    // Tab order as the dialog is read: device, its picture, quality, channel, OK, Cancel.
    QWidget::setTabOrder(Combo1, Combo2);
    QWidget::setTabOrder(Combo2, Combo3);
    QWidget::setTabOrder(Combo3, Command1);
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

    const vardune::EncodingProfile& profile = Module1::settings().profile;
    // A list-only box cannot show a text that is no entry: it shows the first entry.
    const int device = Combo1->findText(Fill(Combo1, vardune::EncodingProfile::DeviceList(), profile.device),
                                        Qt::MatchExactly | Qt::MatchCaseSensitive);
    Combo1->setCurrentIndex(device >= 0 ? device : 0);
    Combo2->ShowText(Fill(Combo2, vardune::EncodingProfile::QualityList(), profile.quality));
    Combo3->ShowText(Fill(Combo3, vardune::EncodingProfile::ChannelList(), profile.channel));
    SetPicture();
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
    vardune::EncodingProfile& profile = Module1::settings().profile;
    profile.channel = Module1::FromQt(Combo3->currentText());
    profile.device = Module1::FromQt(Combo1->currentText());
    profile.quality = Module1::FromQt(Combo2->currentText());
    close();
}

void frmOption::ShowStatusBarValue()
{
    if (main_)
        main_->ShowStatusBarValue();
}

void frmOption::closeEvent(QCloseEvent* event)
{
    ShowStatusBarValue();
    event->accept();
}
