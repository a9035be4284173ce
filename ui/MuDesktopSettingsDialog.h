#pragma once

#include <QDialog>
#include <QKeySequence>

class QCheckBox;
class QKeySequenceEdit;
class QLabel;

// The small settings window of the tray menu: the global mute shortcut with its default, a line
// saying when it cannot work, and the switch of the desktop notifications. Changes apply at once.
class MuDesktopSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MuDesktopSettingsDialog(QWidget* parent = nullptr);

    void setValues(const QKeySequence& keys, bool notify);
    // status: a MuGlobalShortcut::Status.
    void showShortcutStatus(int status);
    QString shortcutStatusText() const;

signals:
    void sigChanged(const QKeySequence& keys, bool notify);

private:
    void changed();

    QKeySequenceEdit* m_keys = nullptr;
    QLabel* m_status = nullptr;
    QCheckBox* m_notify = nullptr;
};
