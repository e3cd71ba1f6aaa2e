#include "OnlinePin.h"

#include "BuilderText.h"
#include "Sha256.h"

namespace nvbuilder {

bool ParseOnlineTrust(const std::string& text, TOnlineTrust& trust) {
  if (text == "pin") trust = TOnlineTrust::Pin;
  else if (text == "signer") trust = TOnlineTrust::Signer;
  else if (text == "none") trust = TOnlineTrust::None;
  else return false;
  return true;
}

TOnlinePlan PlanOnlineCheck(TOnlineTrust trust, bool makesFull, bool signs, const std::string& where,
                            std::vector<std::string>& warnings) {
  TOnlinePlan plan;
  switch (trust) {
    case TOnlineTrust::Default:
      plan.Check = makesFull;
      break;
    case TOnlineTrust::Pin:
      if (!makesFull)
        throw EBuildError(where + ": --online-trust pin needs the full package in the same build (FullSetupFile)");
      plan.Check = true;
      break;
    case TOnlineTrust::Signer:
      if (!signs)
        throw EBuildError(where + ": --online-trust signer needs --sign: the stub must be signed by the certificate "
                                  "that signs the full package");
      plan.Check = true;
      plan.Rule = TOnlineRule::orSigner;
      break;
    case TOnlineTrust::None:
      break;
  }
  if (!plan.Check)
    warnings.push_back(where +
                       ": the online stub checks nothing of the full package it downloads but its project: anyone on "
                       "the network path can have it install another program; build the full package with it "
                       "(a pin) or use --online-trust signer with --sign");
  return plan;
}

std::string OnlineCheckPayload(const TOnlinePlan& plan, const std::string& fullBytes) {
  if (!plan.Check) return {};
  TOnlineCheck check;
  check.Rule = plan.Rule;
  if (plan.Rule == TOnlineRule::orPin) {
    check.Size = fullBytes.size();
    check.Sha256 = Sha256(fullBytes);
  }
  return EncodeOnlineCheck(check);
}

std::string DescribeOnlineCheck(const std::string* resource) {
  if (!resource) return "none: only the full package's project is checked";
  TOnlineCheck check;
  if (!DecodeOnlineCheck(*resource, check)) return "damaged (the stub refuses every download)";
  if (check.Rule == TOnlineRule::orSigner)
    return "signer: the download must carry a valid Authenticode signature by the stub's signer";
  return "pin: " + std::to_string(check.Size) + " bytes, SHA-256 " + HexText(check.Sha256);
}

}  // namespace nvbuilder
