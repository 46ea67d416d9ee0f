#include "frmRuleAdd.h"

#include "DialogFlags.h"
#include "MessageBox.h"
#include "RuleCheck.h"
#include "RuleLists.h"
#include "RuleSyntax.h"
#include "StringHelpers.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace {

const QString kSampleAddress = QStringLiteral("john.smith@example.com");
const QString kSampleDomain = QStringLiteral("example.com");

} // namespace

frmRuleAdd::frmRuleAdd(Kind kind, RuleLists &rules, QWidget *parent)
    : QDialog(parent, kDialogWindowFlags)
    , m_kind(kind)
    , m_rules(rules)
    , picRule(new QLabel(this))
    , lblEmailHint(new QLabel(this))
    , lblDomainHint(new QLabel(this))
    , lblPatternHint(new QLabel(this))
    , lblHeaderHint(new QLabel(this))
    , txtEmail(new QLineEdit(this))
    , cmdAdd(new QPushButton(QStringLiteral("Add"), this))
    , cmdDone(new QPushButton(QStringLiteral("Done"), this))
{
    const bool filter = kind == Kind::Filter;
    setObjectName(filter ? QStringLiteral("frmFilterAdd") : QStringLiteral("frmExemptedAdd"));
    setWindowTitle(filter ? QStringLiteral("Add Filter") : QStringLiteral("Add Exempted"));
    setAccessibleName(windowTitle());
    setModal(true);

    picRule->setObjectName(QStringLiteral("picRule"));
    QIcon icon = rules.icon(filter ? QStringLiteral("filter") : QStringLiteral("exempted"));
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_FileDialogContentsView);
    picRule->setPixmap(icon.pixmap(32, 32));
    picRule->setAccessibleName(filter ? QStringLiteral("Filter List") : QStringLiteral("Exempted List"));

    lblEmailHint->setObjectName(QStringLiteral("lblEmailHint"));
    lblEmailHint->setText(QStringLiteral("To enter an Email Address type ") + kSampleAddress);
    lblEmailHint->setAccessibleName(lblEmailHint->text());
    lblDomainHint->setObjectName(QStringLiteral("lblDomainHint"));
    lblDomainHint->setText(QStringLiteral("To enter a Domain type ") + QStringLiteral("*@") + kSampleDomain);
    lblDomainHint->setAccessibleName(lblDomainHint->text());
    // How a value is read, in the words of the help page.
    lblPatternHint->setObjectName(QStringLiteral("lblPatternHint"));
    lblPatternHint->setText(QStringLiteral("In an address, * stands for any characters and ? for one: *@*.")
                            + kSampleDomain);
    lblPatternHint->setAccessibleName(lblPatternHint->text());
    lblHeaderHint->setObjectName(QStringLiteral("lblHeaderHint"));
    lblHeaderHint->setText(
        QStringLiteral("To match another header field type its name, a colon, a space and a pattern: "
                       "Subject: *free money*"));
    lblHeaderHint->setAccessibleName(lblHeaderHint->text());
    for (QLabel *hint : {lblEmailHint, lblDomainHint, lblPatternHint, lblHeaderHint})
        hint->setTextFormat(Qt::PlainText);

    txtEmail->setObjectName(QStringLiteral("txtEmail"));
    txtEmail->setMaxLength(2 * kMaxLength);
    txtEmail->setAccessibleName(QStringLiteral("Email Address"));
    txtEmail->setAccessibleDescription(lblEmailHint->text() + QLatin1Char('\n') + lblDomainHint->text()
                                       + QLatin1Char('\n') + lblPatternHint->text() + QLatin1Char('\n')
                                       + lblHeaderHint->text());
    lblEmailHint->setBuddy(txtEmail);

    cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    cmdAdd->setAccessibleName(QStringLiteral("Add"));
    cmdAdd->setDefault(true);
    cmdDone->setObjectName(QStringLiteral("cmdDone"));
    cmdDone->setAccessibleName(QStringLiteral("Done"));
    cmdDone->setAutoDefault(false);

    auto *hints = new QGridLayout;
    hints->addWidget(picRule, 0, 0, 4, 1, Qt::AlignTop);
    hints->addWidget(lblEmailHint, 0, 1);
    hints->addWidget(lblDomainHint, 1, 1);
    hints->addWidget(lblPatternHint, 2, 1);
    hints->addWidget(lblHeaderHint, 3, 1);
    hints->setColumnStretch(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdAdd);
    buttons->addWidget(cmdDone);
    auto *layout = new QGridLayout(this);
    layout->addLayout(hints, 0, 0);
    layout->addWidget(txtEmail, 1, 0);
    layout->addLayout(buttons, 2, 0);

    setTabOrder(txtEmail, cmdAdd);
    setTabOrder(cmdAdd, cmdDone);
    txtEmail->setFocus();

    connect(cmdAdd, &QPushButton::clicked, this, &frmRuleAdd::cmdAdd_Click);
    // Escape rejects the dialog as "Done" does; nothing typed is kept.
    connect(cmdDone, &QPushButton::clicked, this, &frmRuleAdd::cmdDone_Click);
}

void frmRuleAdd::cmdAdd_Click()
{
    const QString value = TrimSpaces(txtEmail->text());
    txtEmail->setText(value);
    if (value.isEmpty()) {
        MessageBox::show(QStringLiteral("Invalid Entry"), QStringLiteral("Warning"), MessageBox::Icon::Exclamation);
        txtEmail->setFocus();
        return;
    }
    // A value that does not do what it looks meant to do is refused, with
    // what it would do instead, while the user can still mend it.
    QString refusal = RuleSyntax::tooLongReason(value).isEmpty()
        ? RuleCheck::warning(value)
        : QStringLiteral("the entry is longer than %1 characters").arg(kMaxLength);
    if (!refusal.isEmpty())
        refusal = refusal.front().toUpper() + refusal.mid(1) + u'.';
    if (!refusal.isEmpty()) {
        MessageBox::show(QStringLiteral("Invalid Entry\r\n") + refusal, QStringLiteral("Warning"),
                         MessageBox::Icon::Exclamation);
        txtEmail->setFocus();
        return;
    }
    if (m_kind == Kind::Filter)
        m_rules.AddFilter(value);
    else
        m_rules.AddExempted(value);
    ++m_added;
    txtEmail->clear();
}

void frmRuleAdd::cmdDone_Click()
{
    reject();
}
