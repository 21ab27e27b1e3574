// Basic check of virtual directories.
#include "server/http/basic_authorize.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The registered users: alice with the password Secret; remembers what it was asked.
class OneUser : public ICredentialCheck {
public:
    bool HasCredentials(const std::string& name, const std::string& password) const override {
        asked.push_back(name + ":" + password);
        return name == "alice" && password == "Secret";
    }
    mutable std::vector<std::string> asked;
};

CHTMLCommand Request(const std::string& authorization) {
    std::string text = "GET /docs/x HTTP/1.1\r\n";
    if (!authorization.empty()) text += "Authorization: " + authorization + "\r\n";
    text += "\r\n";
    CHTMLCommand command;
    command.ParseMessage(true, text.data(), text.size());
    return command;
}

class BasicAuthorizeTest : public ::testing::Test {
protected:
    bool Check(const std::string& authorization, const std::string& user,
               const std::string& password) {
        return BasicAuthorize(Request(authorization), user, password, &users_);
    }
    OneUser users_;
};

TEST(Base64, DecodesGroupsAndRefusesMalformed) {
    EXPECT_EQ(DecodeBase64("Ym9iOnB3"), "bob:pw");
    EXPECT_EQ(DecodeBase64("Ym9iOnB3MQ=="), "bob:pw1");
    EXPECT_EQ(DecodeBase64("Ym9iOnB3MTI="), "bob:pw12");
    EXPECT_EQ(DecodeBase64("Ym9iOnB3xy"), "bob:pw");  // beyond the last whole group
    EXPECT_EQ(DecodeBase64("+ Ym9iOnB3"), "bob:pw");
    EXPECT_EQ(DecodeBase64(""), "");
    EXPECT_FALSE(DecodeBase64("Ym9i!nB3"));
    EXPECT_FALSE(DecodeBase64("Ym=iOnB3"));
    EXPECT_FALSE(DecodeBase64("Ym9=OnB3"));  // padding before the last group
}

TEST_F(BasicAuthorizeTest, DirectoryWithoutUserLetsEverythingThrough) {
    EXPECT_TRUE(Check("", "", ""));
    EXPECT_TRUE(Check("Digest abc", "", "x"));
}

TEST_F(BasicAuthorizeTest, MissingOrMalformedCredentialsAreRefused) {
    EXPECT_FALSE(Check("", "bob", "pw"));
    EXPECT_FALSE(Check("Digest Ym9iOnB3", "bob", "pw"));
    EXPECT_FALSE(Check("Basic", "bob", "pw"));
    EXPECT_FALSE(Check("Basic Ym9i", "bob", "pw"));      // "bob": no ":"
    EXPECT_FALSE(Check("Basic Ym9i*nB3", "bob", "pw"));  // not base64
    EXPECT_FALSE(Check("Basic OnB3", "bob", "pw"));      // no user name
}

TEST_F(BasicAuthorizeTest, UserIgnoresCasePasswordDoesNot) {
    EXPECT_TRUE(Check("Basic Ym9iOnB3", "bob", "pw"));          // bob:pw
    EXPECT_TRUE(Check("Basic Qk9COnB3", "bob", "pw"));          // BOB:pw
    EXPECT_FALSE(Check("Basic Ym9iOlBX", "bob", "pw"));         // bob:PW
    EXPECT_TRUE(Check("basic Ym9iOnB3", "bob", "pw"));          // scheme in lower case
    EXPECT_TRUE(Check("Basic ZG9tXGJvYjpwdw==", "bob", "pw"));  // dom\bob:pw
    EXPECT_TRUE(Check("Basic Ym9iOmE6Yg==", "bob", "a:b"));     // bob:a:b
}

TEST_F(BasicAuthorizeTest, StarAsksTheRegisteredUsers) {
    EXPECT_TRUE(Check("Basic YWxpY2U6U2VjcmV0", "*", ""));          // alice:Secret
    EXPECT_FALSE(Check("Basic YWxpY2U6c2VjcmV0", "*", ""));         // alice:secret
    EXPECT_TRUE(Check("Basic ZG9tXGFsaWNlOlNlY3JldA==", "*", ""));  // dom\alice:Secret
    EXPECT_FALSE(Check("Basic Og==", "*", ""));                     // ":": no user, not asked
    EXPECT_FALSE(Check("Basic Ym9iOnB3", "*", ""));
    EXPECT_EQ(users_.asked,
              (std::vector<std::string>{"alice:Secret", "alice:secret", "alice:Secret", "bob:pw"}));
    // Without registered users nobody counts.
    EXPECT_FALSE(BasicAuthorize(Request("Basic YWxpY2U6U2VjcmV0"), "*", "", nullptr));
}

}  // namespace
