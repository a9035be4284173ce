// The two settings files as the store reads them at start (login data, scrambled password, the
// user's volume); what the store then saves must read back as saved.
#include "FuzzSupport.h"

#include "base/MuSettings.h"
#include "base/PlainIniFormat.h"
#include "base/ScrambleText.h"

FUZZ_SHARED_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray content = FuzzSupport::bytes(data, size);
    FuzzSupport::writeFile(QStringLiteral("MuVozedIvazerida.ini"), content);
    FuzzSupport::writeFile(QStringLiteral("MuVozedIvazeridaTemp.ini"), content);

    MuSettings* store = MuSettings::instance();
    QString userId, password;
    store->loadLogin(userId, password);
    const QString plain = scrambleText(password, true);
    int volume = -1;
    store->loadVolume(volume);
    if (volume < 0 || volume > 100)
        __builtin_trap();
    store->saveLogin(userId, scrambleText(plain, false), QString());
    store->saveVolume(volume);
    MuSettings::destroyInstance();

    QString userIdAgain, passwordAgain;
    int volumeAgain = -1;
    MuSettings::instance()->loadLogin(userIdAgain, passwordAgain);
    MuSettings::instance()->loadVolume(volumeAgain);
    MuSettings::destroyInstance();
    if (userIdAgain != userId ||
        scrambleText(passwordAgain, true) != (userId.isEmpty() ? QString() : plain) || volumeAgain != volume)
        __builtin_trap();
    return 0;
}
