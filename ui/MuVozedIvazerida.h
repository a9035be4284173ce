#pragma once

#include <QSharedPointer>
#include <QWidget>

class MuMsgbox;
class MuVoicePanel;
class QLineEdit;
class QPushButton;

// The first window: asks for the user ID and password, fetches the service configuration,
// logs in on the push-stream service, remembers the credentials and hands over to the voice
// panel, which it owns and which returns to it when the session ends.
class MuVozedIvazerida : public QWidget
{
    Q_OBJECT

public:
    explicit MuVozedIvazerida(QWidget* parent = nullptr);
    ~MuVozedIvazerida() override;

    // The reversible transformation applied to the remembered password.
    static QString scrambleText(const QString& text, bool decode);

    MuVoicePanel* voicePanel() const { return panel.data(); }

public slots:
    void sltLogin();
    void sltCloseLogin();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildForm();
    bool requestSdkInit();
    void restoreLoginButton();

    QSharedPointer<MuVoicePanel> panel;
    QSharedPointer<MuMsgbox> toast;
    bool closing = false;
    // Enter in the password field is not stopped by the disabled button, and the requests
    // wait in a nested event loop: a second attempt must not start inside the first.
    bool loggingIn = false;

    QLineEdit* m_userIdEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QPushButton* m_loginButton = nullptr;
    QPushButton* m_minButton = nullptr;
    QPushButton* m_closeButton = nullptr;
};
