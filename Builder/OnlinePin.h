// The online stub's check of the full package it downloads: the rule a build
// gives the stub, the pin (size and SHA-256 of the finished full package) and
// the check resource that carries it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "PackageFormat.h"

namespace nvbuilder {

// What --online-trust asks for. Default: a pin when the build makes the full
// package, no check otherwise.
enum class TOnlineTrust { Default, Pin, Signer, None };

// "pin", "signer" or "none"; false for anything else.
bool ParseOnlineTrust(const std::string& text, TOnlineTrust& trust);

// The rule a stub gets, decided before anything is packed. makesFull: the
// build writes the full package; signs: it has a signing command. Pin needs
// the full package and Signer a signing command (EBuildError naming `where`
// otherwise); a stub that will check nothing adds a warning.
struct TOnlinePlan {
  bool Check = false;  // the stub carries a check resource
  TOnlineRule Rule = TOnlineRule::orPin;
};
TOnlinePlan PlanOnlineCheck(TOnlineTrust trust, bool makesFull, bool signs, const std::string& where,
                            std::vector<std::string>& warnings);

// The stub's check resource for the plan: a pin of fullBytes (the full
// package as shipped: after signing), or the signer rule. Empty when the plan
// has no check.
std::string OnlineCheckPayload(const TOnlinePlan& plan, const std::string& fullBytes);

// The line "inspect" prints for a stub's check resource (nullptr: the stub has none).
std::string DescribeOnlineCheck(const std::string* resource);

}  // namespace nvbuilder
