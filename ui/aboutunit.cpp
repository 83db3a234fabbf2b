// SPDX-License-Identifier: MIT
#include "ui/aboutunit.h"
#include "serial/ui/designfit.h"
#include "serial/ui/placement.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <cmath>

#include "platform/fileversion.h"
#include "scripts/verinfo.h"

// The program's own version record, which the about box reads back from the
// program file. It lives here, with the box that shows it, so that every
// program linking the about box carries one. Test programs that stamp their
// own record define QUORLIN_NO_PROGRAM_VERSION.
#ifndef QUORLIN_NO_PROGRAM_VERSION
QUORLIN_FILE_VERSION(1, 0, 0, 0, 0x0409, 1252,
                     QUORLIN_VERSION_STRING("FileVersion", "1.0.0.0")
                         QUORLIN_VERSION_STRING("ProductName", "Quorlin")
                             QUORLIN_VERSION_STRING("FileDescription",
                                                    "Modbus RTU slave emulator"));
#endif

namespace quorlin
{

namespace
{

// A panel with a lowered outer and a raised inner bevel.
class TBevelPanel : public QFrame
{
  public:
    using QFrame::QFrame;

  protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QPalette &pal = palette();
        const QRect outer = rect();
        const QRect inner = outer.adjusted(1, 1, -1, -1);
        // Lowered outer bevel: dark top-left, light bottom-right.
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawLine(outer.topLeft(), outer.topRight());
        painter.drawLine(outer.topLeft(), outer.bottomLeft());
        painter.setPen(pal.color(QPalette::Light));
        painter.drawLine(outer.bottomLeft(), outer.bottomRight());
        painter.drawLine(outer.topRight(), outer.bottomRight());
        // Raised inner bevel: the other way round.
        painter.setPen(pal.color(QPalette::Light));
        painter.drawLine(inner.topLeft(), inner.topRight());
        painter.drawLine(inner.topLeft(), inner.bottomLeft());
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawLine(inner.bottomLeft(), inner.bottomRight());
        painter.drawLine(inner.topRight(), inner.bottomRight());
    }
};

// A version text of the file, empty when the file has none.
QString fileVersion(const std::string &fileName, const std::string &programDir)
{
    const TVersionInfo info(fileName, programDir);
    if (!info.Valid())
        return {};
    return QString::fromStdString(info.GetFileVersion());
}

QLabel *addLabel(QWidget *parent, const char *name, const QString &text, const QRect &geometry,
                 bool bold)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QFont font = label->font();
    font.setBold(bold);
    label->setFont(font);
    return label;
}

// The description's lines were laid out for a narrow bitmap font; the font
// that stands in for it is often wider. Shrink it until every line fits the
// label's fixed box, rather than wrapping lines or cutting off the last ones.
void fitLines(QLabel *label)
{
    const QStringList lines = label->text().split(QLatin1Char('\n'));
    QFont font = label->font();
    int pixels = QFontInfo(font).pixelSize();
    for (; pixels > 6; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetrics metrics(font);
        int widest = 0;
        for (const QString &line : lines)
            widest = std::max(widest, metrics.horizontalAdvance(line));
        if (widest <= label->width() && metrics.lineSpacing() * lines.size() <= label->height())
            break;
    }
    font.setPixelSize(pixels);
    label->setFont(font);
    label->setWordWrap(false);
}

void makeLink(QLabel *label)
{
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(pal);
    label->setCursor(Qt::PointingHandCursor);
}

} // namespace

QString AboutDescription()
{
    return QStringLiteral("This emulator supports reading/writing of 0x, 1x, 3x \n"
                          "and 4x registers. The first 32 registers (for 0x and 1x) \n"
                          "and first 6 registers (for 3x and 4x) can be accessed\n"
                          "directly (use scrollbars or just click on EditBox of\n"
                          "appropriate register). Other ones are initially fullfiled \n"
                          "by zeros but their values can be changed by writing \n"
                          "requests. You can address up to 2048 registers for \n"
                          "0x and 1x and up to 256 for 3x and 4x. If you will try \n"
                          "to read or write other addresses the emulator will \n"
                          "return \"PLC Exception\" code.");
}

QPixmap QuorlinLogo()
{
    QPixmap logo(220, 45);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient background(0, 0, 0, 45);
    background.setColorAt(0, QColor(0x1d, 0x3b, 0x5c));
    background.setColorAt(1, QColor(0x0f, 0x22, 0x38));
    painter.setBrush(background);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(0.5, 0.5, 219, 44), 6, 6);

    // A register value following a script: a sine that settles into a square.
    QPainterPath wave;
    for (int x = 8; x <= 70; ++x) {
        const double y = 22.5 - 13 * std::sin((x - 8) * 2 * M_PI / 31.0);
        if (x == 8)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    painter.setPen(QPen(QColor(0xf5, 0xb0, 0x2e), 2.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(wave);

    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(24);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(78, 0, 140, 45), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("QUORLIN"));
    return logo;
}

TAboutBox::TAboutBox(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Quorlin v1.0"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(298, 398);

    Panel1 = new TBevelPanel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 8, 282, 348);

    constexpr int left = 4;
    constexpr int width = 274;

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(31, 10, 220, 45);
    ProgramIcon->setPixmap(QuorlinLogo());
    ProgramIcon->setCursor(Qt::PointingHandCursor);

    Label4 =
        addLabel(Panel1, "Label4", QString::fromLatin1(MakerName), {left, 60, width, 28}, true);
    QFont nameFont(QStringLiteral("Arial"), 16);
    nameFont.setBold(true);
    Label4->setFont(nameFont);
    Label4->setCursor(Qt::PointingHandCursor);

    Label3 =
        addLabel(Panel1, "Label3", QString::fromLatin1(MakerPlace), {left, 92, width, 16}, true);
    Label5 = addLabel(Panel1, "Label5", QStringLiteral("phone: %1").arg(MakerPhone),
                      {left, 110, width, 16}, true);
    Comments = addLabel(Panel1, "Comments", QStringLiteral("e-mail: %1").arg(MakerEmail),
                        {left, 128, width, 16}, true);
    makeLink(Comments);
    Label6 =
        addLabel(Panel1, "Label6", QString::fromLatin1(MakerWeb), {left, 146, width, 16}, true);
    makeLink(Label6);

    Label1 = addLabel(Panel1, "Label1", AboutDescription(), {15, 168, 251, 141}, false);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Version = addLabel(Panel1, "Version", QStringLiteral("(Simple Version 1.0)"),
                       {left, 312, width, 15}, true);
    Label2 = addLabel(Panel1, "Label2", QStringLiteral("scripts.dll version : <unknown>"),
                      {left, 328, width, 15}, true);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(111, 364, 75, 25);
    OKButton->setDefault(true);
    // Esc closes a QDialog through reject(); Enter presses the default button.
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    for (QLabel *clickable : {ProgramIcon, Label4, Comments, Label6})
        clickable->installEventFilter(this);

    FitDesignToFont(*this);
    // In the box it has once the font is known.
    fitLines(Label1);
}

void TAboutBox::UpdateVersionLines()
{
    const QString library = fileVersion("scripts.dll", m_programDir);
    if (!library.isEmpty())
        Label2->setText(QStringLiteral("scripts.dll version: ") + library);

    const QString program =
        m_programFile.isEmpty() ? QCoreApplication::applicationFilePath() : m_programFile;
    const QString version = fileVersion(program.toStdString(), m_programDir);
    if (!version.isEmpty())
        Version->setText(QFileInfo(program).fileName() + QStringLiteral(" version: ") + version);
}

int TAboutBox::About2Click()
{
    UpdateVersionLines();
    return exec();
}

void TAboutBox::CommentsClick()
{
    m_openUrl(QUrl(QStringLiteral("mailto:%1?Subject=Quorlin 1.0").arg(MakerEmail)));
}

void TAboutBox::Label6Click()
{
    m_openUrl(QUrl(QString::fromLatin1(MakerWeb)));
}

bool TAboutBox::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        auto *label = qobject_cast<QLabel *>(watched);
        if (label && mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            if (label == Comments)
                CommentsClick();
            else
                Label6Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnScreen(*this);
}

} // namespace quorlin
