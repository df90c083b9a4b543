#pragma once

#include <QTemporaryDir>

// Points the program's settings store at a fresh temporary directory for the life of the
// object, so tests never read or write the user's real settings. Also sets the application
// identity the store is addressed by.
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
