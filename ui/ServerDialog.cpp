#include "ui/ServerDialog.h"

#include "check/ServerTest.h"
#include "servers/ServerListModel.h"
#include "ui/UserPrompts.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QProxyStyle>
#include <QPushButton>
#include <QSpinBox>

namespace {

// Passwords show as "*", whatever the platform's style would draw.
class AsteriskStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLabel *makeLabel(QWidget *parent, const char *name, const QRect &geometry, const QString &caption)
{
    auto *label = place<QLabel>(parent, name, geometry);
    label->setText(caption);
    return label;
}

// A text field keeps its designed top; it grows when the platform's font needs more height.
QLineEdit *makeField(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *field = place<QLineEdit>(parent, name, geometry);
    field->resize(field->width(), qMax(field->height(), field->sizeHint().height()));
    return field;
}

// Right-aligned captions grow to the left when their text does not fit; when the frame's edge
// stops them, the fields beside them give up the rest of the room.
void fitCaptionsBeforeFields(QLabel *const (&captions)[2], std::initializer_list<QLineEdit *> fields)
{
    constexpr int margin = 4;
    int shortfall = 0;
    for (QLabel *label : captions) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        const int right = label->geometry().right();
        const int left = qMax(margin, qMin(label->x(), right + 1 - label->sizeHint().width()));
        label->setGeometry(left, label->y(), right + 1 - left, label->height());
        shortfall = qMax(shortfall, label->sizeHint().width() - label->width());
    }
    if (shortfall <= 0)
        return;
    for (QLabel *label : captions)
        label->resize(label->width() + shortfall, label->height());
    for (QLineEdit *field : fields)
        field->setGeometry(field->x() + shortfall, field->y(), field->width() - shortfall, field->height());
}

// The row of "Use SSL/TLS" and the pipeline depth, below the main settings.
constexpr int kTlsRowHeight = 360;

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

ServerDialog::ServerDialog(const ServerListModel &servers, int editPosition, UserPrompts &prompts, QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                         | Qt::MSWindowsFixedSizeDialogHint)
    , m_servers(servers)
    , m_editPosition(editPosition)
    , m_prompts(prompts)
{
    setObjectName(QStringLiteral("frmServer"));
    setWindowTitle(QStringLiteral("Add Newsserver"));
    setFixedSize(px(4695), px(3975 + kTlsRowHeight));
    buildMainFrame();
    buildAuthenticationFrame();
    buildButtons();
    if (m_editPosition > 0)
        showServer(m_servers.server(m_editPosition));
    m_txtServer->setFocus();
}

void ServerDialog::buildMainFrame()
{
    auto *frame = place<QGroupBox>(this, "Frame1", twipRect(120, 120, 4455, 1905 + kTlsRowHeight));
    frame->setTitle(QStringLiteral("Main Server Settings"));
    makeLabel(frame, "Label1", twipRect(360, 360, 1125, 195), QStringLiteral("Server Address:"));
    m_txtServer = makeField(frame, "txtServer", twipRect(360, 600, 2775, 285));
    makeLabel(frame, "Label2", twipRect(3360, 360, 330, 195), QStringLiteral("Port:"));
    m_txtPort = makeField(frame, "txtPort", twipRect(3360, 600, 855, 285));
    m_txtPort->setText(editor::kDefaultPort);
    m_txtPort->installEventFilter(this);
    makeLabel(frame, "Label6", twipRect(360, 1080, 1275, 195), QStringLiteral("Server Nickname:"));
    m_txtNickName = makeField(frame, "txtNickName", twipRect(360, 1320, 2775, 285));
    makeLabel(frame, "Label5", twipRect(3360, 1080, 630, 195), QStringLiteral("Threads:"));
    m_cboThreads = place<QComboBox>(frame, "cboThreads", twipRect(3360, 1320, 855, 315));
    for (int threads = 1; threads <= 10; ++threads)
        m_cboThreads->addItem(QString::number(threads));
    m_chkSSL = place<QCheckBox>(frame, "chkSSL", twipRect(360, 1800, 1800, 255));
    m_chkSSL->setText(QStringLiteral("Use SSL/TLS"));
    m_chkSSL->resize(m_chkSSL->sizeHint().expandedTo(m_chkSSL->size()));
    auto *pipelineCaption = makeLabel(frame, "Label7", twipRect(2280, 1830, 1000, 195), QStringLiteral("Pipeline:"));
    pipelineCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_spnPipeline = place<QSpinBox>(frame, "spnPipeline", twipRect(3360, 1770, 855, 315));
    m_spnPipeline->setRange(1, kDeepestPipeline);
    m_spnPipeline->setToolTip(QStringLiteral("Article queries each connection keeps out at once; 1 asks one at a time."));
    for (QWidget *label : frame->findChildren<QLabel *>())
        widenToFit(label, frame->width() - 2);

    connect(m_txtServer, &QLineEdit::textChanged, this, [this](const QString &address) {
        if (m_editPosition == 0 && !m_nickNameTyped)
            m_txtNickName->setText(address);
    });
    connect(m_txtNickName, &QLineEdit::textEdited, this, [this] { m_nickNameTyped = true; });
    connect(m_txtPort, &QLineEdit::textChanged, this, &ServerDialog::applyPortRules);
    connect(m_chkSSL, &QCheckBox::toggled, this,
            [this](bool tls) { m_txtPort->setText(editor::portAfterTlsTick(m_txtPort->text(), tls)); });
}

void ServerDialog::buildAuthenticationFrame()
{
    const QString title = QStringLiteral("Server Requires Authentication  ");
    auto *frame = place<QGroupBox>(this, "Frame2", twipRect(120, 2160 + kTlsRowHeight, 4455, 1180));
    frame->setTitle(title);
    QLabel *captions[] = {makeLabel(frame, "Label4", twipRect(220, 400, 765, 195), QStringLiteral("Username:")),
                          makeLabel(frame, "Label3", twipRect(250, 770, 735, 195), QStringLiteral("Password:"))};
    m_txtUsername = makeField(frame, "txtUsername", twipRect(1080, 360, 3135, 285));
    m_txtPassword = makeField(frame, "txtPassword", twipRect(1080, 720, 3135, 285));
    fitCaptionsBeforeFields(captions, {m_txtUsername, m_txtPassword});
    m_txtPassword->setEchoMode(QLineEdit::Password);
    auto *asterisks = new AsteriskStyle;
    asterisks->setParent(m_txtPassword);
    m_txtPassword->setStyle(asterisks);

    // The tick sits on the frame's top edge, right after its caption.
    const int captionEnd = frame->x() + frame->fontMetrics().horizontalAdvance(title) + px(150);
    m_chkAuth = place<QCheckBox>(this, "chkAuth", twipRect(120 + 2430, 2160 + kTlsRowHeight - 15, 255, 255));
    m_chkAuth->move(qMax(m_chkAuth->x(), captionEnd), m_chkAuth->y());
    m_chkAuth->resize(m_chkAuth->sizeHint().expandedTo(m_chkAuth->size()));
    m_chkAuth->raise();
    connect(m_chkAuth, &QCheckBox::toggled, this, &ServerDialog::applyAuthenticationTick);
    applyAuthenticationTick(false);
}

void ServerDialog::buildButtons()
{
    auto *test = makeButton(this, "cmdTest", twipRect(1440, 3480 + kTlsRowHeight, 975, 375), QStringLiteral("Test"), true);
    auto *ok = makeButton(this, "cmdOK", twipRect(2520, 3480 + kTlsRowHeight, 975, 375), QStringLiteral("OK"), true);
    auto *cancel = makeButton(this, "cmdCancel", twipRect(3600, 3480 + kTlsRowHeight, 975, 375), QStringLiteral("Cancel"), true);
    // Neither button answers Enter by itself.
    for (QPushButton *button : {test, ok, cancel})
        button->setAutoDefault(false);
    connect(test, &QPushButton::clicked, this, &ServerDialog::testServer);
    connect(ok, &QPushButton::clicked, this, &ServerDialog::tryToStore);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    QWidget *const order[] = {m_txtServer, m_txtPort, m_txtNickName, m_cboThreads, m_chkSSL, m_spnPipeline, m_chkAuth, m_txtUsername, m_txtPassword, test, ok, cancel};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void ServerDialog::showServer(const ServerRecord &server)
{
    m_txtServer->setText(server.address);
    m_txtNickName->setText(server.nickname);
    m_txtPort->setText(QString::number(leadingNumber(server.port)));
    m_cboThreads->setCurrentIndex(editor::threadsEntry(leadingNumber(server.threads)));
    m_spnPipeline->setValue(leadingNumber(server.pipeline));
    // Ticked after the port is shown, so that the port stays as stored.
    m_chkSSL->blockSignals(true);
    m_chkSSL->setChecked(server.ssl);
    m_chkSSL->blockSignals(false);
    if (!server.username.isEmpty()) {
        m_chkAuth->setChecked(true);
        m_txtUsername->setText(server.username);
    }
    m_txtPassword->setText(server.password());
}

// Unticking keeps what the fields hold; it is stored on OK all the same.
void ServerDialog::applyAuthenticationTick(bool ticked)
{
    const QPalette standard = QApplication::palette(m_txtUsername);
    for (QLineEdit *field : {m_txtUsername, m_txtPassword}) {
        field->setEnabled(ticked);
        QPalette palette = standard;
        palette.setColor(QPalette::Base, standard.color(ticked ? QPalette::Base : QPalette::Button));
        field->setPalette(palette);
    }
}

void ServerDialog::applyPortRules()
{
    const editor::PortText result = editor::applyPortRules(m_txtPort->text());
    if (result.tooHigh)
        m_prompts.showMessage(UserPrompts::Icon::Warning, QStringLiteral("Orvalis"), editor::kPortTooHigh);
    if (result.text != m_txtPort->text())
        m_txtPort->setText(result.text);
}

editor::EditorInput ServerDialog::input() const
{
    editor::EditorInput input;
    input.address = m_txtServer->text();
    input.nickname = m_txtNickName->text();
    input.port = m_txtPort->text();
    input.threads = m_cboThreads->currentText();
    input.tls = m_chkSSL->isChecked();
    input.pipeline = QString::number(m_spnPipeline->value());
    input.authentication = m_chkAuth->isChecked();
    input.username = m_txtUsername->text();
    input.password = m_txtPassword->text();
    return input;
}

void ServerDialog::tryToStore()
{
    const editor::EditorInput entered = input();
    const QString problem = editor::firstInputProblem(entered, m_editPosition > 0, m_servers.count());
    if (!problem.isEmpty()) {
        m_prompts.showMessage(UserPrompts::Icon::Warning, QStringLiteral("Orvalis"), problem);
        return;
    }
    m_record = editor::recordFromInput(entered, m_servers.NextFreeKey(m_editPosition));
    accept();
}

// Tries the values entered as a check would use them, under a progress dialog; nothing is stored.
void ServerDialog::testServer()
{
    if (m_test)
        return;
    const editor::EditorInput entered = input();
    // The values as OK would store them, trimmed, and a check would then use them; the key
    // only carries the password.
    const CheckServer server = CheckServer::fromRecord(editor::recordFromInput(entered, QStringLiteral("K00")));
    ConnectionOptions options;
    options.idleTimeoutSeconds = m_idleTimeoutSeconds;
    m_test = new ServerTest(server, entered.authentication, options, this);
    m_testProgress = new QProgressDialog(QStringLiteral("Testing %1 ...").arg(entered.address.trimmed()), QStringLiteral("Cancel"), 0, 0, this);
    m_testProgress->setWindowTitle(QStringLiteral("Orvalis"));
    m_testProgress->setWindowModality(Qt::WindowModal);
    m_testProgress->setMinimumDuration(0);
    connect(m_testProgress, &QProgressDialog::canceled, this, [this] {
        m_test->cancel();
        endTest();
    });
    connect(m_test, &ServerTest::finished, this, [this](bool allWorked) {
        const QString text = m_test->lines().join(u'\n');
        endTest();
        m_prompts.showMessage(allWorked ? UserPrompts::Icon::Information : UserPrompts::Icon::Warning, QStringLiteral("Orvalis"), text);
    });
    m_testProgress->show();
    m_test->start();
}

// Closing the progress dialog would count as its Cancel: it is hidden instead.
void ServerDialog::endTest()
{
    m_testProgress->disconnect(this);
    m_testProgress->hide();
    std::exchange(m_testProgress, nullptr)->deleteLater();
    std::exchange(m_test, nullptr)->deleteLater();
}

// Only digits can be typed into the port, five at most; pasted text meets the port rules instead.
bool ServerDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_txtPort && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool shortcut = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        const QString typed = shortcut ? QString() : key->text();
        const bool full = m_txtPort->text().size() - m_txtPort->selectedText().size() >= 5;
        if (!typed.isEmpty() && typed[0].isPrint() && (!isDigit(typed[0]) || full))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

// Escape does not close the dialog: only Cancel and the close box do.
void ServerDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        event->ignore();
    else
        QDialog::keyPressEvent(event);
}
