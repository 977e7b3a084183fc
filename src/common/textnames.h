// Fixed name tables: the 32 PLU import fields and the 13 weight units.
#ifndef TARVO_COMMON_TEXTNAMES_H_
#define TARVO_COMMON_TEXTNAMES_H_

#include <string>

namespace tarvo {

constexpr int kPLUFieldCount = 32;
constexpr int kWeightUnitCount = 13;

// Index of each PLU field in the field name table and in FieldsConfig.
enum PLUField {
  kFieldNumber = 0,
  kFieldName,
  kFieldCode,
  kFieldBarCodeType,
  kFieldPrice,
  kFieldWeightUnit,
  kFieldDep,
  kFieldTare,
  kFieldIcePercent,
  kFieldShelfTime,
  kFieldProductionDate,
  kFieldLabel,
  kFieldRebate,
  kFieldPackageType,
  kFieldPackageWeight,
  kFieldTolerance,
  kFieldMessageString1,  // ... kFieldMessageString1 + 15 is MessageString16
};

// The English name of field `index` (0..31); "" outside that range. Settings
// keys are "Field" + name + "_DefVal", "_Pos", "_PosHome", "_PosEnd" (the
// name ShlefTime is spelled so in its keys).
const std::string& PLUFieldName(int index);

// The name of a queued command's number ("SetSettings" 0, "SetPLU", "UpdatePLU",
// "SetLabel", "SetKeys", "SetFont", "SetLogo" 6); "" for any other number.
std::string CommandName(int commandNumber);

// Exact, case-sensitive lookup; the first equal name gives its index, -1 if none.
int PLUFieldIndex(const std::string& name);

// The English label of weight unit `code` (0..12); "" outside that range.
// The codes are those of a PLU's WeightUnit and the order of the scale's
// weight-unit switches; 9 to 12 are the piece forms of g, kg, oz and lb.
const std::string& WeightUnitLabel(int code);

}  // namespace tarvo

#endif  // TARVO_COMMON_TEXTNAMES_H_
