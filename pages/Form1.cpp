#include "pages/Form1.h"

#include "oracle/DbError.h"
#include "oracle/Globals.h"
#include "oracle/Oracle.h"
#include "pages/Form2.h"
#include "pages/Forms.h"
#include "pages/Messages.h"
#include "shell/CheckButton.h"
#include "shell/Main.h"
#include "shell/ProgramEnd.h"
#include "shell/SettingsStore.h"

#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProxyStyle>

#include <limits>

namespace {

const QString kApplication = QStringLiteral("Marrowick");
const QString kSection = QStringLiteral("Dervanta");

// A login box selects its whole text whenever it gets the focus. A mouse
// click gives the focus first and then places the cursor, so the press that
// brought the focus selects everything once more.
class LoginBox : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        QLineEdit::focusInEvent(event);
        selectAll();
        selectOnPress_ = event->reason() == Qt::MouseFocusReason;
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        selectOnPress_ = false;
        QLineEdit::focusOutEvent(event);
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        QLineEdit::mousePressEvent(event);
        if (selectOnPress_)
            selectAll();
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        // Keep the whole text selected until the button that brought the
        // focus is released; a later press selects as usual.
        if (!selectOnPress_)
            QLineEdit::mouseMoveEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        QLineEdit::mouseReleaseEvent(event);
        selectOnPress_ = false;
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        selectOnPress_ = false;
        QLineEdit::mouseDoubleClickEvent(event);
    }

private:
    bool selectOnPress_ = false;
};

// The password box shows one "*" per character, whatever the style's own
// password character is.
class StarPasswordStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLabel* makeLabel(Page* page, const QString& text, int left, int top, int width, int height)
{
    auto* label = new QLabel(text, page);
    page->PlaceTwips(label, left, top, width, height);
    return label;
}

QLineEdit* makeLoginBox(Page* page, QLabel* label, const QString& key, int top)
{
    auto* box = new LoginBox(page);
    page->PlaceTwips(box, 1200, top, 4455, 330);
    // No limit: a shorter one would cut a long stored value on load and
    // write the cut value back.
    box->setMaxLength(std::numeric_limits<int>::max());
    box->setAccessibleName(label->text());
    label->setBuddy(box);
    // Every change, typed or assigned, is written through at once.
    QObject::connect(box, &QLineEdit::textChanged, box,
                     [key](const QString& text) { SettingsSave(kApplication, kSection, key, text); });
    return box;
}

CheckButton* makeButton(Page* page, const QString& caption, int left, int top, int width, int height,
                        bool withPicture = true)
{
    auto* button = new CheckButton(caption, page, withPicture);
    page->PlaceTwips(button, left, top, width, height);
    return button;
}

// While the chooser page fills its list, this page's actions wait: the only
// thing that may run then is ending the program.
bool busyElsewhere() { return Form2::FillRunning(); }

} // namespace

Form1::Form1()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Setup Connections"));
    SetFixedSingleBorder();
    SetClientSizeTwips(5895, 3165);

    Label5 = makeLabel(this, QStringLiteral(" Please provide the login information for your Oracle database."), 120, 120,
                       5415, 255);
    Label2 = makeLabel(this, QStringLiteral("SID:"), 120, 525, 1095, 255);
    Text1 = makeLoginBox(this, Label2, QStringLiteral("OracleSID"), 480);
    Label1 = makeLabel(this, QStringLiteral("Username:"), 120, 1005, 1095, 255);
    Text2 = makeLoginBox(this, Label1, QStringLiteral("OracleUser"), 960);
    Label4 = makeLabel(this, QStringLiteral("Password:"), 120, 1485, 1095, 255);
    Text3 = makeLoginBox(this, Label4, QStringLiteral("OraclePassword"), 1440);
    Text3->setEchoMode(QLineEdit::Password);
    auto* starStyle = new StarPasswordStyle;
    starStyle->setParent(Text3);
    Text3->setStyle(starStyle);

    Check5 = makeButton(this, QStringLiteral("Test Connection"), 120, 1920, 4215, 375);
    Check2 = makeButton(this, QStringLiteral("Help"), 4440, 1920, 1335, 375);

    Line1 = new QFrame(this);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Plain);
    Line1->setLineWidth(1);
    PlaceTwips(Line1, 120, 2520, 5640, 15);

    Check4 = makeButton(this, QStringLiteral("< Back"), 120, 2640, 1815, 400, false);
    Check4->setEnabled(false);
    Check3 = makeButton(this, QStringLiteral("Next >"), 2040, 2640, 1815, 400);
    Check1 = makeButton(this, QStringLiteral("Quit"), 3960, 2640, 1815, 400);

    // The page's own font is the regular weight; every control keeps the
    // bold one of the shared look.
    const QFont bold = font();
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        w->setFont(bold);
    QFont regular = bold;
    regular.setWeight(QFont::Normal);
    setFont(regular);

    // Tab order by the design's tab index; the labels take no focus.
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Text3);
    setTabOrder(Text3, Check5);
    setTabOrder(Check5, Check2);
    setTabOrder(Check2, Check4);
    setTabOrder(Check4, Check3);
    setTabOrder(Check3, Check1);

    AddPointerRule(this, PointerDefault);
    for (QWidget* w : {static_cast<QWidget*>(Text1), static_cast<QWidget*>(Text2), static_cast<QWidget*>(Text3)})
        AddPointerRule(w, PointerDefault);
    for (QWidget* w : {Check1, Check2, Check3, Check5})
        AddPointerRule(w, PointerHand);

    Check1->OnClick([this] { Check1_Click(); });
    Check2->OnClick([this] { RunUnguarded([this] { Check2_Click(); }); });
    Check3->OnClick([this] { RunUnguarded([this] { Check3_Click(); }); });
    Check5->OnClick([this] { Check5_Click(); });

    // The data routines read the login fields from these boxes at the moment of use.
    SetLoginFieldsReader([this] { return LoginFields{Text1->text(), Text2->text(), Text3->text()}; });
}

Form1::~Form1() { SetLoginFieldsReader({}); }

void Form1::Form_Load()
{
    CenterForm(*this);
    MaybeShowHomePage();
    LoadHandPointer(*this);
    // All three are read before any is set: each box writes the store anew,
    // which would rewrite a hand-edited comma value not yet read.
    const QString sid = SettingsGet(kApplication, kSection, QStringLiteral("OracleSID"));
    const QString user = SettingsGet(kApplication, kSection, QStringLiteral("OracleUser"));
    const QString password = SettingsGet(kApplication, kSection, QStringLiteral("OraclePassword"));
    Text1->setText(sid);
    Text2->setText(user);
    Text3->setText(password);
    if (!TryConnect())
        return;
    // A stored login that connects but whose table list cannot be read must
    // not end the program here: it would do so at every start, with no way
    // back to this page to change the login. The failure is shown over this
    // page, which stays; the chooser was never shown.
    if (const std::optional<Failure> failure = RunCaught([] { GetForm2(); })) {
        show();
        ReportFailure(failure->number, failure->description, this);
        return;
    }
    GetForm2().show();
    hide();
}

void Form1::FrameBecameKnown() { CenterForm(*this); }

QString Form1::HelpText()
{
    const QString cr2 = QStringLiteral("\r\r");
    return QStringLiteral("This software works with Oracle 9i or higher.") + cr2
           + QStringLiteral("The SID is used to identify a particular database. The SID is usually defined in the "
                            "TNSNAMES.ORA file. The TNSNAMES.ORA file found in my Oracle 9i folder looks like:")
           + QStringLiteral("http://www.sqlmanager.net/en/products/mssql/manager/download") + cr2
           + QStringLiteral("Download and install the EMS SQL Manager 2005 Lite for SQL Server. Try to connect to ")
           + QStringLiteral("the same database (with the same login information you are using here). This will "
                            "determine if ")
           + QStringLiteral("the login you are using is correct.");
}

void Form1::Check1_Click() { EndProgram(0); }

void Form1::Check2_Click()
{
    if (busyElsewhere())
        return;
    ShowMessage(this, HelpText());
}

void Form1::Check3_Click()
{
    if (busyElsewhere())
        return;
    if (!TryConnect())
        return;
    // The chooser's load may still fail (the server refuses one session
    // more, say): that is told here, and the user stays on this page with
    // the login as typed, as at start-up.
    const std::optional<Failure> failure = RunCaught([this] {
        GetForm2().show();
        hide();
        GetForm2().Form_Load();
    });
    if (!failure)
        return;
    show();
    if (Form2Loaded())
        GetForm2().hide();
    activateWindow();
    ReportFailure(failure->number, failure->description, this);
}

void Form1::Check5_Click()
{
    if (busyElsewhere())
        return;
    // The connection lives until the handler ends, after the message is closed.
    ConnectionPtr connection;
    QString text;
    QString reason;
    try {
        SetMousePointer(PointerBusy);
        connection = OpenLoginConnection();
        text = QStringLiteral("Connection successful.");
    } catch (const DbError& e) {
        text = QStringLiteral("Could not connect.");
        reason = QString::fromStdString(e.description());
    } catch (const std::exception& e) {
        text = QStringLiteral("Could not connect.");
        reason = QString::fromLocal8Bit(e.what());
    } catch (...) {
        // Whatever the provider throws, the test only failed.
        text = QStringLiteral("Could not connect.");
        reason = QStringLiteral("unknown failure");
    }
    ShowMessage(this, text, reason);
    SetMousePointer(PointerDefault);
}
