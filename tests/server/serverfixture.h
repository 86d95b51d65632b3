#pragma once

#include "core/record.h"
#include "presence.h"
#include "servicehandler.h"
#include "store.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace mr::test {

// A store in a temporary folder, the presence table, and a way to send requests as bytes.
class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override;

    int newAccount(const QString& nickname, const QString& password = "pw");
    // A keep-alive session from the given address, signed on as the user.
    server::Session signOn(int user, const QString& address = "10.0.0.5", int infoPort = 1111,
                           int filePort = 2222);
    server::Reply call(server::Session& session, char code, const QByteArray& payload,
                       bool keepAlive = true, const char* path = nullptr);
    // A one-shot request with no session.
    server::Reply ask(char code, const QByteArray& payload);

    QTemporaryDir m_dir;
    server::Store m_store;
    server::Presence m_presence;
    std::uint64_t m_nextSession = 1;
};

QByteArray pack(std::string_view format, std::initializer_list<PackValue> values);

}  // namespace mr::test
