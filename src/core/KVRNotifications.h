#pragma once
// Notification names, exactly as the rest of the system spells them.
#include <QString>

inline const QString KVRVortelySelectedProductDidChange = QStringLiteral("KVRVortelySelectedProductDidChange");
inline const QString KVRVortelyRatingsHaveBeenLoaded = QStringLiteral("KVRVortelyRatingsHaveBeenLoaded");
inline const QString KVRVortelyReconcileHaveBeenUpdated = QStringLiteral("KVRVortelyReconcileHaveBeenUpdated");
inline const QString KVRVortelyPreferedCurrencyDidChange = QStringLiteral("KVRVortelyPreferedCurrencyDidChange");
inline const QString KVRVortelyReportsImportComplete = QStringLiteral("KVRVortelyReportsImportComplete");
inline const QString KVRVortelyReportsLoadComplete = QStringLiteral("KVRVortelyReportsLoadComplete");
inline const QString KVRTaskManagerTaskListDidChange = QStringLiteral("KVRTaskManagerTaskListDidChange");
