#pragma once

#include "searchd/ServiceIndex.h"

#include <QString>
#include <string>
#include <vector>

// The engines every index test runs against, each with a fresh, empty index.
inline std::vector<std::string> indexEngineNames() {
    return {"sqlite"};
}

// A new empty index of the engine: a new file in folder for SQLite.
inline IndexSettings freshIndexSettings(const std::string& engine, const QString& folder) {
    IndexSettings settings;
    if (engine == "sqlite")
        settings.sqliteFile = folder + QStringLiteral("/index.db");
    return settings;
}

// For INSTANTIATE_TEST_SUITE_P: the engine's name as the test's.
inline std::string indexEngineName(const testing::TestParamInfo<std::string>& info) {
    return info.param;
}
