#include "frmServerRules.h"

#include "Dialer.h"
#include "DialogFlags.h"
#include "MessageBox.h"
#include "RuleDatabase.h"
#include "ServerRulesNote.h"
#include "ServerRulesPerson.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kTitle = QStringLiteral("Rules on the Server");
const QString kName = QString::fromLatin1(SieveScript::kName);

// The server's rules need no dial-up of their own: a fetch dials.
class NoDialer : public Dialer {
public:
    void DialUp(const ProfileSettingsRecord &, CancelFlag &) override { RasResult = 0; }
    void HangUp() override { }
};

bool ask(const QString &text, bool defaultNo = false)
{
    MessageBox::Request question{text, kTitle, MessageBox::Icon::Question, MessageBox::Buttons::YesNo};
    question.defaultNo = defaultNo;
    return MessageBox::show(question) == MessageBox::Result::Yes;
}

QString activeText(const SieveUpload::Status &s)
{
    if (s.active.isEmpty())
        return QStringLiteral("Active script: none");
    if (s.active == kName)
        return QStringLiteral("Active script: \"%1\" (Trelvik's)").arg(s.active);
    return QStringLiteral("Active script: \"%1\" (%2)")
        .arg(s.active,
             s.included ? QStringLiteral("it includes Trelvik's rules")
                        : QStringLiteral("Trelvik's rules are not in it"));
}

} // namespace

frmServerRules::frmServerRules(Context context, QWidget *parent)
    : QDialog(parent, kDialogWindowFlags)
    , m_context(std::move(context))
{
    setObjectName(QStringLiteral("frmServerRules"));
    setWindowTitle(kTitle);
    buildControls();
    showReport();
    showButtons();
}

void frmServerRules::buildControls()
{
    const auto label = [this](const char *name) {
        auto *l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::PlainText);
        l->setWordWrap(true);
        return l;
    };
    const auto button = [this](const char *name, const QString &text, void (frmServerRules::*slot)()) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        if (slot)
            connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    lblServer = label("lblServer");
    lblState = label("lblState");
    lblActive = label("lblActive");
    lblDone = label("lblDone");
    auto *scriptCaption = new QLabel(QStringLiteral("The &script as it is uploaded:"), this);
    txtScript = new QPlainTextEdit(this);
    txtScript->setObjectName(QStringLiteral("txtScript"));
    txtScript->setReadOnly(true);
    txtScript->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtScript->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    scriptCaption->setBuddy(txtScript);
    lblLeftOut = label("lblLeftOut");
    lsvLeftOut = new QTreeWidget(this);
    lsvLeftOut->setObjectName(QStringLiteral("lsvLeftOut"));
    lsvLeftOut->setAccessibleName(QStringLiteral("Rules not in the script"));
    lsvLeftOut->setRootIsDecorated(false);
    lsvLeftOut->setHeaderLabels({QStringLiteral("List"), QStringLiteral("Rule"), QStringLiteral("Why")});
    lsvLeftOut->header()->setStretchLastSection(true);
    prgBusy = new QProgressBar(this);
    prgBusy->setObjectName(QStringLiteral("prgBusy"));
    prgBusy->setRange(0, 0);
    prgBusy->setTextVisible(false);
    cmdCancel = button("cmdCancel", QStringLiteral("Cancel"), nullptr);
    connect(cmdCancel, &QPushButton::clicked, &m_cancel, &CancelFlag::set);
    cmdUpload = button("cmdUpload", QStringLiteral("&Upload"), &frmServerRules::cmdUpload_Click);
    cmdRemove = button("cmdRemove", QStringLiteral("&Remove"), &frmServerRules::cmdRemove_Click);
    cmdRefresh = button("cmdRefresh", QStringLiteral("Check &Again"), &frmServerRules::cmdRefresh_Click);
    cmdClose = button("cmdClose", QStringLiteral("Close"), nullptr);
    connect(cmdClose, &QPushButton::clicked, this, &frmServerRules::reject);

    auto *busyRow = new QHBoxLayout;
    busyRow->addWidget(prgBusy, 1);
    busyRow->addWidget(cmdCancel);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {cmdUpload, cmdRemove, cmdRefresh})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto *layout = new QVBoxLayout(this);
    for (QLabel *l : {lblServer, lblState, lblActive})
        layout->addWidget(l);
    layout->addWidget(scriptCaption);
    layout->addWidget(txtScript, 3);
    layout->addWidget(lblLeftOut);
    layout->addWidget(lsvLeftOut, 1);
    layout->addWidget(lblDone);
    layout->addLayout(busyRow);
    layout->addLayout(buttons);
    setBusy(false);
    resize(760, 600);
}

void frmServerRules::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true; // the server is asked once the dialog is up
    QTimer::singleShot(0, this, &frmServerRules::cmdRefresh_Click);
}

void frmServerRules::reject()
{
    // While the server is asked, Escape and the close box cancel; the
    // dialog closes once the conversation has ended properly.
    if (m_busy)
        m_cancel.set();
    else
        QDialog::reject();
}

void frmServerRules::closeEvent(QCloseEvent *event)
{
    if (!m_busy)
        return QDialog::closeEvent(event);
    m_cancel.set();
    event->ignore();
}

void frmServerRules::setBusy(bool busy)
{
    m_busy = busy;
    prgBusy->setVisible(busy);
    cmdCancel->setVisible(busy);
    if (busy) {
        lblDone->setText(QStringLiteral("Talking to the server..."));
        for (QPushButton *b : {cmdUpload, cmdRemove, cmdRefresh, cmdClose})
            b->setEnabled(false);
        cmdCancel->setFocus();
    } else {
        cmdClose->setEnabled(true);
        cmdRefresh->setEnabled(true);
        showButtons();
    }
}

bool frmServerRules::converse(ServerRules::Action action)
{
    const std::optional<QStringList> filter = m_context.rules.FillRules(QStringLiteral("tbfilter"));
    const std::optional<QStringList> exempted = m_context.rules.FillRules(QStringLiteral("tbexempted"));
    if (!filter || !exempted) {
        MessageBox::show(QStringLiteral("The rule database could not be read."), kTitle, MessageBox::Icon::Critical);
        return false;
    }
    ServerRulesPerson person(m_context.hooks);
    NoDialer dialer;
    const MailRun::Target target{m_context.settings, m_context.profile, m_cancel, dialer, person};
    if (MailRun::ready(target) != MailOutcome::Done)
        return false;
    m_cancel.clear();
    setBusy(true);
    ServerRules::Report report = ServerRules::run(action, target, *filter, *exempted, m_context.seams);
    const bool ok = report.result.ok();
    if (!report.server.isEmpty())
        m_server = report.server;
    // A refusal leaves the status unknown: the caller asks again.
    m_report.reset();
    if (ok)
        m_report = std::move(report);
    setBusy(false);
    showReport();
    if (ok && m_context.note)
        if (const QString failed = m_context.note->remember(m_context.profile, *m_report); !failed.isEmpty())
            MessageBox::show(QStringLiteral("What the server holds could not be remembered for the status line.\r\n")
                                 + failed,
                             kTitle, MessageBox::Icon::Exclamation);
    if (ok)
        return true;
    const bool cancelled = report.result.kind == MailOutcome::Cancelled;
    lblDone->setText(cancelled ? QStringLiteral("Cancelled.") : QString());
    person.report(report.result);
    // A refusal may come after part of the work was done: what the server
    // holds now is asked again.
    if (report.reached && !cancelled && action != ServerRules::Action::Status)
        converse(ServerRules::Action::Status);
    return false;
}

void frmServerRules::showReport()
{
    lblServer->setText(QStringLiteral("Profile \"%1\", server %2")
                           .arg(m_context.profile, m_server.isEmpty() ? QStringLiteral("not reached yet") : m_server));
    if (!m_report) {
        lblState->setText(QStringLiteral("State: unknown"));
        lblActive->clear();
        return;
    }
    const ServerRules::Report &r = *m_report;
    const SieveUpload::Status &s = r.outcome.status;
    lblState->setText(QStringLiteral("State: %1; Trelvik's rules %2")
                          .arg(SieveUpload::stateText(s.state),
                               s.running() ? QStringLiteral("run on delivery") : QStringLiteral("do not run")));
    lblActive->setText(activeText(s));
    txtScript->setPlainText(r.script.text.isEmpty() ? r.script.error : r.script.text);
    const qsizetype all = r.script.exported + r.script.leftOut.size();
    lblLeftOut->setText(r.script.leftOut.isEmpty()
                            ? QStringLiteral("Every rule is in the script (%1).").arg(all)
                            : QStringLiteral("Rules the server cannot run as Trelvik does (%1 of %2), left out:")
                                  .arg(r.script.leftOut.size())
                                  .arg(all));
    lsvLeftOut->clear();
    lsvLeftOut->setVisible(!r.script.leftOut.isEmpty());
    for (const SieveScript::LeftOut &l : r.script.leftOut)
        lsvLeftOut->addTopLevelItem(new QTreeWidgetItem(QStringList{l.list, l.rule, l.reason}));
    lblDone->setText(r.outcome.steps.isEmpty()
                         ? QString()
                         : QStringLiteral("Done: ") + r.outcome.steps.join(QStringLiteral("; ")) + u'.');
}

void frmServerRules::showButtons()
{
    using State = SieveUpload::State;
    const std::optional<SieveUpload::Status> s = m_report ? std::optional(m_report->outcome.status) : std::nullopt;
    const bool ours = s && (s->state == State::UpToDate || s->state == State::OutOfDate);
    cmdUpload->setText(ours ? QStringLiteral("&Update") : QStringLiteral("&Upload"));
    cmdUpload->setEnabled(!m_busy && s
                          && (s->state == State::NotUploaded || s->state == State::OutOfDate
                              || (s->state == State::UpToDate && !s->running())));
    cmdRemove->setEnabled(!m_busy && s && s->state != State::Edited && (ours || s->included));
}

std::optional<ServerRules::Action> frmServerRules::uploadAction()
{
    const SieveUpload::Status &s = m_report->outcome.status;
    if (s.active.isEmpty()) {
        if (ask(QStringLiteral("No script is active on the server, so it filters nothing on delivery. Upload "
                               "Trelvik's script as \"%1\" and make it the active one?")
                    .arg(kName)))
            return ServerRules::Action::Upload;
        return std::nullopt;
    }
    if (s.active == kName || s.included)
        return ServerRules::Action::Upload;
    if (ask(QStringLiteral("The script \"%1\" is active on the server, and only the active script runs on delivery: "
                           "Trelvik's rules run there only when \"%1\" includes them.\r\n\r\nAdd these lines to "
                           "\"%1\"? The server checks the changed script first, and a copy of it as it is now is "
                           "kept as \"%2\".\r\n\r\n%3")
                .arg(s.active, SieveUpload::backupName(s.active), ServerRules::includeChange(m_report->activeText))))
        return ServerRules::Action::UploadWithInclude;
    MessageBox::show(QStringLiteral("Nothing was changed on the server. Trelvik's rules do not run there while "
                                    "\"%1\" is active without including them: press %2 again to let Trelvik add the "
                                    "lines, or add include :personal \"%3\"; to \"%1\" yourself.")
                         .arg(s.active, cmdUpload->text().remove(u'&'), kName),
                     kTitle, MessageBox::Icon::Information);
    return std::nullopt;
}

void frmServerRules::cmdUpload_Click()
{
    if (m_busy || !m_report)
        return;
    if (const std::optional<ServerRules::Action> action = uploadAction())
        converse(*action);
    Q_EMIT settled();
}

void frmServerRules::cmdRemove_Click()
{
    if (m_busy || !m_report)
        return;
    const SieveUpload::Status &s = m_report->outcome.status;
    QString text = QStringLiteral("Remove Trelvik's rules from the server? Its script \"%1\" is deactivated and "
                                  "deleted")
                       .arg(kName);
    if (s.included)
        text += QStringLiteral(", and the lines Trelvik added are taken out of \"%1\"").arg(s.active);
    if (ask(text + QStringLiteral(". Your own scripts stay as they are."), true))
        converse(ServerRules::Action::Remove);
    Q_EMIT settled();
}

void frmServerRules::cmdRefresh_Click()
{
    if (m_busy)
        return;
    converse(ServerRules::Action::Status);
    Q_EMIT settled();
}
