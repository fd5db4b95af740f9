#include "plugin/host/event_log.h"

#include "plugin/host/host_failure.h"
#include "plugin/host/message_key.h"
#include "plugin/host/plugin_data.h"

#include <cstring>
#include <vector>

namespace kestrelon {

namespace {

const char* DecisionTitle(Decision decision) {
  switch (decision) {
    case Decision::kSpamDeleted: return "Spam Mail automatically deleted";
    case Decision::kSmtpDeleted: return "Spam Mail deleted by SMTP verification";
    case Decision::kAddressBook: return "Mail Sender in Address Book";
    case Decision::kFalsePositive: return "False Positive Mail";
    case Decision::kManuallyDeleted: return "Spam Mail manually deleted";
    case Decision::kArchiveFailed: return "Spam Mail kept in the Inbox, archive copy failed";
  }
  return "";
}

}  // namespace

std::string DecisionEntry(Decision decision, const char* address, const char* subject) {
  std::string cutSubject = subject ? subject : "";
  if (cutSubject.size() > kMaxKeySubject) cutSubject.resize(kMaxKeySubject);
  return std::string(DecisionTitle(decision)) + " - From: " + (address ? address : "") + ", Subject: " + cutSubject +
         "\r\n";
}

std::string NotFoundEntry(bool useTimer) {
  return std::string("Messages to be deleted as spam not found! New mail detection problem (Notification=") +
         (useTimer ? "Off" : "On") + "). Please send mail to " + kSupportAddress + "\r\n";
}

void LogInfo(PluginData& data, const std::string& text) {
  if (!data.log) throw HostFailure("The log object is missing");
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  if (data.options.logObserver) data.options.logObserver(nullptr, text);
  CheckResult(data.log->LogInfo(buffer.data()), "ILog::LogInfo");
}

void LogError(PluginData& data, const char* function, const std::string& text) {
  if (!data.log) throw HostFailure("The log object is missing");
  std::vector<char> name(function, function + std::strlen(function) + 1);
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  if (data.options.logObserver) data.options.logObserver(function, text);
  CheckResult(data.log->LogError(name.data(), buffer.data()), "ILog::LogError");
}

void LogDecision(PluginData& data, Decision decision, const char* address, const char* subject) {
  LogInfo(data, DecisionEntry(decision, address, subject));
}

}  // namespace kestrelon
