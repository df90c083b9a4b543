#pragma once

#include <QTemporaryDir>

// Points the program's settings store at a fresh temporary directory for the life of the
// object, so tests never read or write the user's real settings; and keeps the test program
// away from the user's secret store, which holds the router password
// (SecretStoreLab::shutOutSessionBus()). Also sets the application identity the stores are
// addressed by.
class TestSettings final
{
public:
    TestSettings();
    ~TestSettings();
    Q_DISABLE_COPY_MOVE(TestSettings)

    QString path() const { return dir.path(); }
    // Removes every key.
    void clear();

private:
    QTemporaryDir dir;
};
