#include "ui/settings_store.h"

#include <QRegularExpression>
#include <QSet>
#include <QSettings>

#include <algorithm>
#include <vector>

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
    // The entries that exist, read in one pass over the section's keys: a Count or an
    // index typed by hand may be huge, so nothing counts up to them.
    QSettings settings(m_strCompany, m_strProduct);
    settings.beginGroup(section);
    bool countOk = false;
    const qulonglong count = settings.value("Count").toString().trimmed().toULongLong(&countOk);
    const QRegularExpression indexed("^" + QRegularExpression::escape(section) +
                                     "(0|[1-9][0-9]{0,19})$");
    std::vector<std::pair<qulonglong, QString>> stored;
    for (const QString& key : settings.childKeys()) {
        const auto match = indexed.match(key);
        bool ok = false;
        const qulonglong index = match.hasMatch() ? match.captured(1).toULongLong(&ok) : 0;
        if (ok && countOk && index < count && count <= 0xFFFFFFFFull) {
            stored.emplace_back(index, settings.value(key).toString());
        }
    }
    settings.endGroup();
    std::sort(stored.begin(), stored.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });

    QStringList entries;
    QSet<QString> seen;
    for (const auto& [index, entry] : stored) {
        const QString key = entry.toCaseFolded();
        if (entry.isEmpty() || seen.contains(key)) {
            continue;
        }
        seen.insert(key);
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
