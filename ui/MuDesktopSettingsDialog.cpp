#include "ui/MuDesktopSettingsDialog.h"

#include "ui/MuDesktopCompanion.h"
#include "ui/MuGlobalShortcut.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

MuDesktopSettingsDialog::MuDesktopSettingsDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("设置"));
    // Left open, it must not keep the program running when the user closes the login window.
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("全局静音快捷键（直播中在任何窗口按下都可静音或取消静音）")));
    auto* row = new QHBoxLayout;
    m_keys = new QKeySequenceEdit(this);
    m_keys->setObjectName(QStringLiteral("keySequenceEdit_mute"));
    auto* reset = new QPushButton(QStringLiteral("恢复默认"), this);
    reset->setObjectName(QStringLiteral("pushButton_default"));
    row->addWidget(m_keys, 1);
    row->addWidget(reset);
    layout->addLayout(row);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("label_shortcutStatus"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setStyleSheet(QStringLiteral("color: #d32f2f;"));
    layout->addWidget(m_status);
    m_notify = new QCheckBox(QStringLiteral("推流中断、被禁麦等情况时显示桌面通知"), this);
    m_notify->setObjectName(QStringLiteral("checkBox_notify"));
    layout->addWidget(m_notify);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    layout->addWidget(close, 0, Qt::AlignRight);

    connect(m_keys, &QKeySequenceEdit::editingFinished, this, &MuDesktopSettingsDialog::changed);
    connect(reset, &QPushButton::clicked, this, [this] {
        m_keys->setKeySequence(MuDesktopCompanion::defaultKeys());
        changed();
    });
    connect(m_notify, &QCheckBox::toggled, this, &MuDesktopSettingsDialog::changed);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
}

void MuDesktopSettingsDialog::setValues(const QKeySequence& keys, bool notify)
{
    const QSignalBlocker blockKeys(m_keys);
    const QSignalBlocker blockNotify(m_notify);
    m_keys->setKeySequence(keys);
    m_notify->setChecked(notify);
}

void MuDesktopSettingsDialog::showShortcutStatus(int status)
{
    switch (status) {
    case MuGlobalShortcut::Taken:
        m_status->setText(QStringLiteral("快捷键已被其他程序占用，请换一个"));
        break;
    case MuGlobalShortcut::Unavailable:
        m_status->setText(QStringLiteral("此桌面不支持全局快捷键"));
        break;
    case MuGlobalShortcut::Unsupported:
        m_status->setText(QStringLiteral("请用 Ctrl、Alt 等组合键加一个字母、数字或功能键"));
        break;
    default:
        m_status->clear();
        break;
    }
    m_status->setVisible(!m_status->text().isEmpty());
}

QString MuDesktopSettingsDialog::shortcutStatusText() const
{
    return m_status->text();
}

void MuDesktopSettingsDialog::changed()
{
    QKeySequence keys = m_keys->keySequence();
    if (keys.count() > 1) { // one chord only
        keys = QKeySequence(keys[0]);
        const QSignalBlocker block(m_keys);
        m_keys->setKeySequence(keys);
    }
    emit sigChanged(keys, m_notify->isChecked());
}
