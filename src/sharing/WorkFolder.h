#pragma once

// The working folder of one share: "share-<UUID>" (canonical upper-case form) inside the
// temporary folder, created at construction (throws std::runtime_error when it cannot be) and
// removed with its contents at destruction; errors of the removal are ignored.

#include <QString>

namespace vantel {

class WorkFolder {
public:
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const QString& path() const { return m_path; }
    QString file(const QString& name) const { return m_path + u'/' + name; }

private:
    QString m_path;
};

} // namespace vantel
