#pragma once

#include "searchd/OpenServiceIndex.h"
#include "support/PrivatePostgres.h"

#include <QDir>
#include <QUuid>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The index's engines, for suites that run the same cases against each of them.
inline std::vector<std::string> indexEngineNames() {
    return {"sqlite", "postgres"};
}

// Settings for an empty index of engine: sqlite, a new file in folder; postgres, a new
// database in the tests' cluster.
inline IndexSettings freshIndexSettings(const std::string& engine, const QString& folder) {
    IndexSettings settings;
    if (engine == "postgres")
        settings.postgresUrl = PrivatePostgres::shared().freshDatabase();
    else
        settings.sqliteFile = QDir(folder).filePath(
            QStringLiteral("index-%1.db").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
    return settings;
}

// For INSTANTIATE_TEST_SUITE_P: the engine's name as the test's.
inline std::string indexEngineName(const testing::TestParamInfo<std::string>& info) {
    return info.param;
}
