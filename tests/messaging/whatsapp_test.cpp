// The gateway client against a local HTTPS gateway with a CA made for the test.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "messaging/whatsapp.h"
#include "platform/errors.h"
#include "platform/https.h"
#include "support/log_capture.h"
#include "support/portable.h"
#include "support/test_gateway.h"

using namespace tav::messaging;
using nlohmann::json;

namespace {

class Gateway : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tav::testing::SetEnv("no_proxy", "127.0.0.1,localhost");
    tav::testing::SetEnv("NO_PROXY", "127.0.0.1,localhost");
    gateway_ = std::make_unique<tav::testing::TestGateway>(TAV_GATEWAY_SCRIPT);
  }
  static void TearDownTestSuite() {
    gateway_.reset();
  }
  void SetUp() override {
    TWhatsApp::Configure({gateway_->base(), "abc123def456ghi789jkl012mno345", gateway_->ca()});
    gateway_->TakeRequests();
  }
  static void Plan(int status, int send) {
    gateway_->SetPlan(json{{"/conta/api/v1/status", {{"status", status}}},
                           {"/conta/api/v1/send_message", {{"status", send}}}}.dump());
  }
  static std::vector<json> Requests() {
    std::vector<json> out;
    for (const auto &line : gateway_->TakeRequests()) out.push_back(json::parse(line));
    return out;
  }
  static std::string Header(const json &request, const std::string &name) {
    for (const auto &h : request["headers"])
      if (h[0] == name) return h[1];
    return "<none>";
  }
  static std::int32_t Send(const std::u16string &body) {
    std::u16string answer;
    const std::int32_t status = TWhatsApp::ExecutaEnvioWhatsApp(body, answer);
    EXPECT_EQ(answer, u"");
    return status;
  }

  static inline std::unique_ptr<tav::testing::TestGateway> gateway_;
};

}  // namespace

TEST_F(Gateway, ProbeThenSendWithTheExactBytes) {
  Plan(200, 200);
  EXPECT_EQ(Send(u"{\"acao\":\"ENVIARWHATSAPP\",\"fone\":\"+55 (11) 9-87\",\"msg\":\"Ola\"}"), 200);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto &r : requests) {
    EXPECT_EQ(r["method"], "POST");
    EXPECT_EQ(Header(r, "Authorization"), "abc123def456ghi789jkl012mno345");
    EXPECT_EQ(Header(r, "Accept"), "application/json");
    EXPECT_EQ(Header(r, "Accept-Charset"), "utf-8, *;q=0.8");
    EXPECT_EQ(Header(r, "Content-Type"), "application/json");
  }
  EXPECT_EQ(requests[0]["path"], "/conta/api/v1/status");
  EXPECT_EQ(requests[0]["body"], "");
  EXPECT_EQ(Header(requests[0], "Content-Length"), "0");
  EXPECT_EQ(requests[1]["path"], "/conta/api/v1/send_message");
  const std::string body = requests[1]["body"];
  EXPECT_EQ(body, "{ \"message\": \"Ola\",  \"number\": \"551198\x37\",  \"quoted_message_id\": \" \"  }");
}

TEST_F(Gateway, MessageValueStaysValidJson) {
  Plan(200, 200);
  struct Row { std::u16string value; std::string message; };
  const Row rows[] = {
      {u"\"diz \\\"oi\\\"\"", "diz \"oi\""},
      {u"\"termina em \\\\\"", "termina em \\"},
      {u"\"Ação\\nfim\"", "Acao\nfim"},
      {u"\"\\u00e7\"", "\xC3\xA7"},
      {u"12.5", "12.5"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_EQ(Send(u"{\"a\":\"ENVIARWHATSAPP\",\"f\":\"1\",\"m\":" + row.value + u"}"), 200);
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    const json sent = json::parse(requests[1]["body"].get<std::string>());
    EXPECT_EQ(sent["message"], row.message);
  }
}

TEST_F(Gateway, OnlyAFinal200Counts) {
  struct Row { int probe, send, status; std::size_t calls; };
  const Row rows[] = {{401, 200, 400, 1}, {500, 200, 400, 1}, {200, 201, 400, 2}, {200, 200, 200, 2}};
  for (const auto &row : rows) {
    SCOPED_TRACE(std::to_string(row.probe) + "/" + std::to_string(row.send));
    Plan(row.probe, row.send);
    EXPECT_EQ(Send(u"{\"a\":0,\"f\":\"1\",\"m\":\"x\"}"), row.status);
    EXPECT_EQ(Requests().size(), row.calls);
  }
  EXPECT_THROW(Send(u"{\"a\":0,\"f\":\"1\"}"), tav::Error);  // "Argument out of range", nothing sent
  EXPECT_TRUE(Requests().empty());
}

TEST_F(Gateway, Redirects) {
  // 303 turns the POST into a GET; 307 and 308 repeat it; cookies follow within the call.
  gateway_->SetPlan(json{
      {"/conta/api/v1/status", {{"status", 303}, {"location", "/r1"}, {"set_cookie", "sessao=1; Path=/"}}},
      {"/r1", {{"status", 200}}},
      {"/conta/api/v1/send_message", {{"status", 307}, {"location", "/r2"}}},
      {"/r2", {{"status", 308}, {"location", "/r3"}}},
      {"/r3", {{"status", 200}}}}.dump());
  EXPECT_EQ(Send(u"{\"a\":0,\"f\":\"1\",\"m\":\"x\"}"), 200);
  auto requests = Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[1]["method"], "GET");
  EXPECT_EQ(Header(requests[1], "Cookie"), "sessao=1");
  EXPECT_EQ(requests[3]["method"], "POST");
  EXPECT_EQ(requests[4]["method"], "POST");
  EXPECT_EQ(requests[4]["body"], requests[2]["body"]);
  EXPECT_EQ(Header(requests[2], "Cookie"), "<none>");  // nothing carries over to the next call

  // Five redirects are followed, a sixth fails the call.
  json plan = {{"/conta/api/v1/status", {{"status", 302}, {"location", "/h1"}}}};
  for (int i = 1; i <= 6; ++i) plan["/h" + std::to_string(i)] = {{"status", 302}, {"location", "/h" + std::to_string(i + 1)}};
  plan["/h5"] = {{"status", 200}};
  plan["/conta/api/v1/send_message"] = {{"status", 200}};
  gateway_->SetPlan(plan.dump());
  EXPECT_EQ(Send(u"{\"a\":0,\"f\":\"1\",\"m\":\"x\"}"), 200);
  EXPECT_EQ(Requests().size(), 7u);  // the probe, five redirects, the message
  plan["/h5"] = {{"status", 302}, {"location", "/h6"}};
  plan["/h6"] = {{"status", 200}};
  gateway_->SetPlan(plan.dump());
  EXPECT_EQ(Send(u"{\"a\":0,\"f\":\"1\",\"m\":\"x\"}"), 400);
  for (const auto &request : Requests()) EXPECT_NE(request["path"], "/conta/api/v1/send_message");
}

TEST_F(Gateway, UnreachableUntrustedOrUnconfigured) {
  Plan(200, 200);
  const std::u16string body = u"{\"a\":0,\"f\":\"1\",\"m\":\"x\"}";
  TWhatsApp::Configure({gateway_->base(), "t", gateway_->otherCa()});
  EXPECT_EQ(Send(body), 400);
  // The certificate check closes the probe before it is sent; Windows then sends
  // nothing, but Wine's WinHTTP sends it all the same. The message never goes.
  for (const auto &request : Requests()) EXPECT_EQ(request["path"], "/conta/api/v1/status");
  TWhatsApp::Configure({"https://127.0.0.1:1/conta", "t", gateway_->ca()});
  EXPECT_EQ(Send(body), 400);
  TWhatsApp::Configure({});
  EXPECT_EQ(Send(u"{\"a\":0,\"f\":\"1\",\"m\":\"x\"}"), 400);
  EXPECT_TRUE(Requests().empty());
}

// A gateway that takes the request and then stays silent: the call fails at the
// receive limit instead of waiting for the answer (which would be a 200).
TEST_F(Gateway, SilentGatewayFailsAtTheReceiveLimit) {
  gateway_->SetPlan(json{{"/conta/lento", {{"status", 200}, {"delay", 6}}}}.dump());
  tav::https::Request request;
  request.url = gateway_->base() + "/lento";
  request.caBundle = gateway_->ca();
  request.stallTimeout = std::chrono::seconds(2);
  const tav::https::Response response = tav::https::Post(request);
  EXPECT_FALSE(response.ok) << "status " << response.status;
  EXPECT_EQ(Requests().size(), 1u);
}

// The number sent is the ASCII digits of the phone text, in order.
TEST_F(Gateway, NumberKeepsAsciiDigitsOnly) {
  Plan(200, 200);
  struct Row { std::u16string phone; std::string number; };
  const Row rows[] = {{u"+55 (11) 9999-0000", "551199990000"}, {u"-1.5e3", "153"}, {u"sem dígitos ٣", ""}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.number);
    EXPECT_TRUE(TWhatsApp::EnviarMensagem(row.phone, u"x"));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(json::parse(requests[1]["body"].get<std::string>())["number"], row.number);
  }
}
