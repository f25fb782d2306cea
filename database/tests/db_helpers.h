// Reading whole tables through the layer as UTF-8 text, for the tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cp932.h"
#include "database/db_connection.h"

namespace tarn::db::dbtest {

inline std::string sjis(const std::string& utf8) {
    auto r = cp932::fromUtf8(utf8);
    EXPECT_TRUE(r.ok()) << utf8;
    return r ? r.value() : std::string();
}

inline std::string utf8(const std::string& sjisText) {
    auto r = cp932::toUtf8(sjisText);
    EXPECT_TRUE(r.ok());
    return r ? r.value() : std::string();
}

struct Table {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> errors;  // values that could not be converted
};

// Every row of `queryUtf8`, each value through the conversion table.
inline Table readTable(DbConnection& c, const std::string& queryUtf8) {
    Table t;
    DbRecordset rs;
    if (!rs.Open(c, sjis(queryUtf8))) {
        ADD_FAILURE() << queryUtf8 << ": " << rs.LastError().message;
        return t;
    }
    for (int i = 0; i < rs.FieldCount(); ++i) {
        EXPECT_TRUE(rs.SelectField(i));
        auto name = rs.FieldName();
        t.names.push_back(name ? utf8(*name) : "<unrepresentable>");
    }
    while (!rs.AtEnd()) {
        std::vector<std::string> row;
        for (int i = 0; i < rs.FieldCount(); ++i) {
            rs.SelectField(i);
            auto text = rs.FieldAsText();
            if (text) {
                row.push_back(utf8(text.value()));
            } else {
                row.push_back("<error>");
                t.errors.push_back(text.error().message);
            }
        }
        t.rows.push_back(std::move(row));
        if (!rs.MoveNext()) {
            ADD_FAILURE() << rs.LastError().message;
            break;
        }
    }
    return t;
}

inline std::vector<std::string> tableNames(const DbConnection& c) {
    std::vector<std::string> out;
    for (int i = 0; i < c.TableCount(); ++i) {
        out.push_back(c.TableNameUtf8(i).value_or("<none>"));
    }
    return out;
}

}  // namespace tarn::db::dbtest
