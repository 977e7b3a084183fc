#include "common/textnames.h"

#include <array>
#include <iterator>

namespace tarvo {

namespace {

const std::array<std::string, kPLUFieldCount> kPLUFieldNames = {
    "Number",
    "Name",
    "Code",
    "BarCodeType",
    "Price",
    "WeightUnit",
    "Dep",
    "Tare",
    "IcePercent",
    "ShlefTime",
    "ProductionDate",
    "Label",
    "Rebate",
    "PackageType",
    "PackageWeight",
    "Tolerance",
    "MessageString1",
    "MessageString2",
    "MessageString3",
    "MessageString4",
    "MessageString5",
    "MessageString6",
    "MessageString7",
    "MessageString8",
    "MessageString9",
    "MessageString10",
    "MessageString11",
    "MessageString12",
    "MessageString13",
    "MessageString14",
    "MessageString15",
    "MessageString16",
};

const std::array<std::string, kWeightUnitCount> kWeightUnitLabels = {
    "50 g",  "G",     "10 g",  "100 g",  "Kg",     "Oz",     "Pb",
    "500 g", "600 g", "pcs g", "pcs kg", "pcs oz", "pcs lb",
};

const std::string kNoName;

}  // namespace

const std::string& PLUFieldName(int index) {
  if (index < 0 || index >= kPLUFieldCount)
    return kNoName;
  return kPLUFieldNames[index];
}

int PLUFieldIndex(const std::string& name) {
  for (int i = 0; i < kPLUFieldCount; ++i) {
    if (kPLUFieldNames[i] == name)
      return i;
  }
  return -1;
}

const std::string& WeightUnitLabel(int code) {
  if (code < 0 || code >= kWeightUnitCount)
    return kNoName;
  return kWeightUnitLabels[code];
}

std::string CommandName(int commandNumber) {
  static const char* const kNames[] = {"SetSettings", "SetPLU",  "UpdatePLU", "SetLabel",
                                       "SetKeys",     "SetFont", "SetLogo"};
  if (commandNumber < 0 || commandNumber >= static_cast<int>(std::size(kNames)))
    return "";
  return kNames[commandNumber];
}

}  // namespace tarvo
