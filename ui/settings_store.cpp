#include "ui/settings_store.h"

#include <QRegularExpression>
#include <QSettings>

namespace tandril {

CSettingsStore::CSettingsStore(const QString& company, const QString& product)
    : m_strCompany(company), m_strProduct(product) {}

std::uint32_t CSettingsStore::ReadInt(const QString& section, const QString& name,
                                      std::uint32_t fallback) const {
    QSettings settings(m_strCompany, m_strProduct);
    QVariant value = settings.value(section + "/" + name);
    if (!value.isValid()) {
        return fallback;
    }
    bool ok = false;
    qulonglong number = value.toString().trimmed().toULongLong(&ok);
    if (!ok || number > 0xFFFFFFFFull) {
        return fallback;
    }
    return static_cast<std::uint32_t>(number);
}

void CSettingsStore::WriteInt(const QString& section, const QString& name, std::uint32_t value) {
    QSettings settings(m_strCompany, m_strProduct);
    settings.setValue(section + "/" + name, static_cast<qulonglong>(value));
}

QString CSettingsStore::ReadString(const QString& section, const QString& name,
                                   const QString& fallback) const {
    QSettings settings(m_strCompany, m_strProduct);
    QVariant value = settings.value(section + "/" + name);
    return value.isValid() ? value.toString() : fallback;
}

void CSettingsStore::WriteString(const QString& section, const QString& name,
                                 const QString& value) {
    QSettings settings(m_strCompany, m_strProduct);
    settings.setValue(section + "/" + name, value);
}

QStringList CSettingsStore::ReadHistory(const QString& section) const {
    std::uint32_t count = ReadInt(section, "Count", 0);
    // A count stored by hand may be huge: entries beyond the highest stored index
    // read as empty anyway, so the loop stops there.
    QSettings settings(m_strCompany, m_strProduct);
    settings.beginGroup(section);
    const QRegularExpression indexed("^" + QRegularExpression::escape(section) +
                                     "(0|[1-9][0-9]*)$");
    qulonglong highest = 0;
    bool any = false;
    for (const QString& key : settings.childKeys()) {
        auto match = indexed.match(key);
        if (match.hasMatch()) {
            any = true;
            highest = std::max(highest, match.captured(1).toULongLong());
        }
    }
    settings.endGroup();
    qulonglong limit = any ? std::min<qulonglong>(count, highest + 1) : 0;

    QStringList entries;
    for (qulonglong i = 0; i < limit; ++i) {
        QString entry = ReadString(section, section + QString::number(i), QString());
        if (entry.isEmpty() || entries.contains(entry, Qt::CaseInsensitive)) {
            continue;
        }
        entries << entry;
    }
    return entries;
}

void CSettingsStore::WriteHistory(const QString& section, const QStringList& entries) {
    int count = std::min<int>(static_cast<int>(entries.size()), kMaxHistory);
    WriteInt(section, "Count", static_cast<std::uint32_t>(count));
    for (int i = 0; i < count; ++i) {
        WriteString(section, section + QString::number(i), entries[i]);
    }
}

}  // namespace tandril
