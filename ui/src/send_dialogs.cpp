#include "ui/send_dialogs.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "common/cp932.h"
#include "driver/send_job.h"
#include "driver/timed_send.h"
#include "ui/message_box.h"
#include "ui/sjis_text.h"

namespace tarn::ui {
namespace {

NowFn orSystemClock(NowFn now) {
    return now ? std::move(now) : [] { return std::time(nullptr); };
}

QSpinBox* timeBox(QWidget* parent, int maximum, int value) {
    auto* box = new QSpinBox(parent);
    box->setRange(0, maximum);
    box->setValue(value);
    box->setDisplayIntegerBase(10);
    box->setMinimumWidth(56);
    return box;
}

}  // namespace

// --- 送信時間の指定

TimeDialog::TimeDialog(QWidget* parent, NowFn now)
    : QDialog(parent), m_now(orSystemClock(std::move(now))) {
    setWindowTitle(QStringLiteral("送信時間の指定"));
    const driver::PlannedParts start = driver::initialPlannedParts(m_now());
    m_date = new QDateEdit(QDate(start.year, start.month, start.day), this);
    m_date->setCalendarPopup(true);
    m_date->setDisplayFormat(QStringLiteral("yyyy年MM月dd日"));
    m_hour = timeBox(this, 23, start.hour);
    m_minute = timeBox(this, 59, 0);
    m_second = timeBox(this, 59, 0);
    for (QSpinBox* box : {m_minute, m_second}) {
        box->setSpecialValueText(QStringLiteral("00"));  // "00" as the dialog always showed
    }

    auto* time = new QHBoxLayout;
    time->addWidget(m_hour);
    time->addWidget(new QLabel(QStringLiteral("時"), this));
    time->addWidget(m_minute);
    time->addWidget(new QLabel(QStringLiteral("分"), this));
    time->addWidget(m_second);
    time->addWidget(new QLabel(QStringLiteral("秒"), this));
    time->addStretch();
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("日付の指定 :"), m_date);
    form->addRow(QStringLiteral("時間の指定 :"), time);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &TimeDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TimeDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("送信を開始する日付、時間の指定を行います。"), this));
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void TimeDialog::accept() {
    const QDate d = m_date->date();
    auto planned = driver::makePlannedTime(d.year(), d.month(), d.day(), m_hour->value(),
                                           m_minute->value(), m_second->value());
    if (!planned || *planned <= m_now()) {
        tell(this, fromSjis(driver::notInFutureTitle()), fromSjis(driver::notInFutureText()),
             QMessageBox::Warning);
        return;  // the dialog stays open
    }
    m_planned = *planned;
    QDialog::accept();
}

// --- 時間指定送信

struct WaitDialog::Wait {
    driver::TimedWait rule;
};

WaitDialog::WaitDialog(QWidget* parent, std::time_t planned, NowFn now)
    : QDialog(parent),
      m_now(orSystemClock(std::move(now))),
      m_wait(std::make_unique<Wait>(Wait{driver::TimedWait(planned)})),
      m_current(new QLabel(this)),
      m_startNow(new QPushButton(QStringLiteral("今すぐ送信"), this)),
      m_cancel(new QPushButton(QStringLiteral("キャンセル"), this)),
      m_timer(new QTimer(this)) {
    setWindowTitle(QStringLiteral("時間指定送信"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("送信予定時刻は"),
                 new QLabel(fromSjis(m_wait->rule.plannedText()), this));
    form->addRow(QStringLiteral("現在の時刻は"), m_current);
    m_current->setText(fromSjis(driver::timeText(m_now())));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_startNow);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(
        new QLabel(QStringLiteral("※送信を中止する場合は、キャンセルを選択して下さい。"), this));
    layout->addLayout(buttons);

    connect(m_startNow, &QPushButton::clicked, this, &WaitDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &WaitDialog::reject);
    connect(m_timer, &QTimer::timeout, this, &WaitDialog::tick);
    m_timer->start(1000);
}

WaitDialog::~WaitDialog() = default;

QString WaitDialog::currentTimeText() const {
    return m_current->text();
}

void WaitDialog::tick() {
    const std::time_t now = m_now();
    if (m_wait->rule.due(now)) {
        m_timer->stop();
        accept();
        return;
    }
    m_current->setText(fromSjis(driver::timeText(now)));
}

void WaitDialog::reject() {
    if (askYesNo(this, QStringLiteral("ターノス - 確認"), QStringLiteral("中止しますか？"))) {
        m_timer->stop();
        QDialog::reject();
    }
}

// --- ターノス  確認

SendConfirmDialog::SendConfirmDialog(driver::SendJob& job, QWidget* parent, NowFn now)
    : QDialog(parent),
      m_job(job),
      m_now(std::move(now)),
      m_path(new QLineEdit(this)),
      m_subject(new QLabel(this)),
      m_sender(new QLabel(this)),
      m_count(new QLabel(this)),
      m_previewHead(new QLabel(this)),
      m_preview(new QPlainTextEdit(this)),
      m_findings(new QLabel(this)),
      m_details(new QPushButton(QStringLiteral("宛先ごとの一覧..."), this)),
      m_browse(new QPushButton(QStringLiteral("参照..."), this)),
      m_send(new QPushButton(QStringLiteral("送信"), this)),
      m_timed(new QPushButton(QStringLiteral("時間指定送信"), this)),
      m_cancel(new QPushButton(QStringLiteral("キャンセル"), this)) {
    setWindowTitle(fromSjis(driver::confirmationTitle()));
    m_path->setReadOnly(true);
    for (QLabel* l : {m_subject, m_sender, m_count, m_previewHead}) {
        l->setTextFormat(Qt::PlainText);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    m_preview->setReadOnly(true);
    m_preview->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_preview->setMinimumSize(520, 220);
    m_findings->setTextFormat(Qt::PlainText);
    m_findings->setWordWrap(true);
    m_findings->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* file = new QHBoxLayout;
    file->addWidget(m_path, 1);
    file->addWidget(m_browse);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("送信内容ファイル :"), file);
    form->addRow(QStringLiteral("件名 :"), m_subject);
    form->addRow(QStringLiteral("送信者 :"), m_sender);
    form->addRow(QStringLiteral("送信件数 :"), m_count);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_send);
    buttons->addWidget(m_timed);
    buttons->addWidget(m_cancel);
    m_send->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(fromSjis(driver::confirmationQuestion()), this));
    layout->addLayout(form);
    layout->addWidget(m_previewHead);
    layout->addWidget(m_preview, 1);
    // What the pre-flight found in every recipient's message, before anything is sent.
    auto* findings = new QHBoxLayout;
    findings->addWidget(m_findings, 1);
    findings->addWidget(m_details, 0, Qt::AlignTop);
    layout->addLayout(findings);
    m_switchRow = new QVBoxLayout;
    layout->addLayout(m_switchRow);
    layout->addLayout(buttons);

    connect(m_browse, &QPushButton::clicked, this, &SendConfirmDialog::browse);
    connect(m_send, &QPushButton::clicked, this, [this] {
        m_choice = Choice::kSend;
        accept();
    });
    connect(m_timed, &QPushButton::clicked, this, &SendConfirmDialog::chooseTime);
    connect(m_cancel, &QPushButton::clicked, this, &SendConfirmDialog::reject);
    connect(m_details, &QPushButton::clicked, this, &SendConfirmDialog::showDetails);
    refresh();
}

void SendConfirmDialog::addSwitch(const QString& text, bool checked,
                                  std::function<void(bool)> apply) {
    m_switch = new QCheckBox(text, this);
    m_switch->setChecked(checked);
    m_switchRow->addWidget(m_switch);
    connect(m_switch, &QCheckBox::toggled, this, [this, apply = std::move(apply)](bool on) {
        apply(on);
        if (auto problem = m_job.prepare()) {
            // Such as every recipient left out: the switch goes back.
            showProblem(this, *problem);
            const QSignalBlocker blocker(m_switch);
            m_switch->setChecked(!on);
            apply(!on);
            static_cast<void>(m_job.prepare());
        }
        refresh();
    });
}

QString SendConfirmDialog::findingsText() const {
    return m_findings->text();
}

void SendConfirmDialog::showDetails() {
    QStringList lines;
    for (const std::string& line : m_job.confirmation().preflight.detailLines()) {
        lines << fromSjis(line);
    }
    QDialog list(this);
    list.setWindowTitle(QStringLiteral("送信前の確認 - 宛先ごとの一覧"));
    auto* text = new QPlainTextEdit(lines.join(QLatin1Char('\n')), &list);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setMinimumSize(560, 260);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, &list);
    close->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    connect(close, &QDialogButtonBox::rejected, &list, &QDialog::reject);
    auto* layout = new QVBoxLayout(&list);
    layout->addWidget(text, 1);
    layout->addWidget(close);
    list.exec();
}

QString SendConfirmDialog::previewText() const {
    return m_preview->toPlainText();
}

QString SendConfirmDialog::countText() const {
    return m_count->text();
}

QString SendConfirmDialog::contentsPathText() const {
    return m_path->text();
}

void SendConfirmDialog::refresh() {
    const driver::SendConfirmation& c = m_job.confirmation();
    m_path->setText(fromSjis(c.contentsPath));
    m_subject->setText(fromSjis(c.subject));
    m_sender->setText(fromSjis(c.sender));
    m_count->setText(QStringLiteral("%1 件").arg(c.recipients));
    QStringList findings;
    for (const std::string& line : c.preflight.summaryLines()) {
        findings << fromSjis(line);
    }
    m_findings->setText(findings.join(QLatin1Char('\n')));
    m_findings->setVisible(!findings.isEmpty());
    m_details->setVisible(!findings.isEmpty());
    switch (c.preview.state) {
        case driver::SendPreview::State::kMessage:
            m_previewHead->setText(QStringLiteral("プレビュー (%1 人目 : %2)")
                                       .arg(c.preview.position)
                                       .arg(fromSjis(c.preview.address)));
            m_preview->setPlainText(QStringLiteral("件名 : ") + fromSjis(c.preview.subject) +
                                    QStringLiteral("\n\n") +
                                    fromSjis(c.preview.body).remove(QLatin1Char('\r')));
            break;
        case driver::SendPreview::State::kNoMessage:
            m_previewHead->setText(QStringLiteral("プレビュー"));
            m_preview->setPlainText(QStringLiteral(
                "スクリプトがどの宛先にも本文を出力しないため、送信されるメールはありません。"));
            break;
        case driver::SendPreview::State::kScriptFailed:
            m_previewHead->setText(QStringLiteral("プレビュー"));
            m_preview->setPlainText(fromSjis(driver::scriptErrorText()) + QStringLiteral("\n") +
                                    QString::fromStdString(c.preview.scriptError));
            break;
    }
}

void SendConfirmDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_job.confirmation().preview.state == driver::SendPreview::State::kScriptFailed &&
        !m_scriptErrorShown) {
        m_scriptErrorShown = true;
        QTimer::singleShot(0, this, [this] { showScriptError(); });
    }
}

void SendConfirmDialog::browse() {
    QString path;
    QFileDialog dialog(this, QStringLiteral("送信内容ファイルの選択"),
                       QFileInfo(m_path->text()).absolutePath(),
                       QStringLiteral("ターノス メッセージ (*.tnm)"));
    dialog.setDefaultSuffix(QStringLiteral("tnm"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        path = dialog.selectedFiles().front();
    }
    if (path.isEmpty()) {
        return;
    }
    auto sjis = toSjis(path);
    if (!sjis) {
        tell(this, QStringLiteral("ターノス - エラー"),
             QString::fromStdString(sjis.error().message), QMessageBox::Warning);
        return;
    }
    if (auto problem = m_job.chooseContentsFile(*sjis)) {
        showProblem(this, *problem);
        return;
    }
    refresh();
    if (m_job.confirmation().preview.state == driver::SendPreview::State::kScriptFailed) {
        m_scriptErrorShown = true;
        showScriptError();
    }
}

void SendConfirmDialog::showScriptError() {
    tell(this, QStringLiteral("ターノス - 確認"), fromSjis(driver::scriptErrorText()),
         QMessageBox::Warning);
}

void SendConfirmDialog::chooseTime() {
    // The confirmation ends with the time dialog's answer: a time, or no send.
    TimeDialog time(this, m_now);
    if (time.exec() == QDialog::Accepted) {
        m_choice = Choice::kTimed;
        m_planned = time.planned();
        accept();
    } else {
        m_choice = Choice::kCancel;
        reject();
    }
}

}  // namespace tarn::ui
