#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A private home for a benchmark: the per-user config, data and runtime
// places point into a temporary folder, so nothing of the user's is read or
// written. Set it up before Qt reads those places.
class BenchHome {
public:
    BenchHome()
    {
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            const QString place = m_dir.path() + QLatin1Char('/') + QLatin1String(name);
            QDir().mkpath(place);
            QFile::setPermissions(place, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            qputenv(name, QFile::encodeName(place));
        }
    }
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};
