// The network scale driver: the automation component that the service
// creates by its ProgID, kScaleDriverProgId. It keeps the buffers of the driver
// interface and carries each send to the scale at IPAddress as
// request/response exchanges of the scale protocol (docs/scale-protocol.md).
//
// Members (names matched without regard to case):
//
//   Written and read properties
//     Driver_EnableShowProgress, ClearAccountAfterUpload   bool
//         Kept and reported. This driver shows no progress and the protocol
//         carries no sales accounts, so neither changes what is sent.
//     IPAddress                                          text, "" at creation
//     PLU_<Field>     the record most recently added by AddPLUToBuffer:
//         Number, AddCode, BarCodeType, WeightUnit, Dep, ShlefTime, Label,
//         Rebate, Message, PackageType, Tolerance           int
//         Name                                             text
//         Price, Tare, PackageWeight, IcePercent           double
//         ProductionDate                                   date (0 = none)
//     Message_CurrentNo (int), Message_Line1..Message_Line16 (text): the
//         message most recently added by AddMessageToBuffer.
//     Settings_<Key>  every key of scale::SettingKeys(); ints, except the six
//         passwords (text) and Settings_UserBarCode (12 hexadecimal digits).
//
//   Read-only properties
//     LastError (int), LastErrorMessage (text), SerialNumber, ScaleVersion
//     PLU_RecordFits, Message_RecordFits (bool): whether the record most
//         recently added by AddPLUToBuffer (AddMessageToBuffer), as it
//         stands, fits one request to the scale on its own. A buffer holding
//         a record that does not is refused whole by SetAllPLU
//         (UpdateAllMessages), so a caller can check every record before it
//         changes anything in the scale.
//     PLU_<Field>_Def for every PLU field but ProductionDate:
//         PLU_Name_Def "", PLU_Price_Def 0.0, PLU_Tare_Def 0.0,
//         PLU_PackageWeight_Def 0.0, PLU_IcePercent_Def 0.0,
//         PLU_WeightUnit_Def 4 (kg), PLU_Message_Def -1 (so that "no
//         message", sent as default + 1, is message number 0), every other 0.
//         AddPLUToBuffer starts each record from these values.
//
//   Methods
//     InitBufferPLU, AddPLUToBuffer, InitBufferMessages, AddMessageToBuffer,
//     InitBufferHotKey, SetHotKeyValue(key 1..224, PLU number): buffer work
//         only; they leave LastError alone.
//     GetScaleSerialNumber, ClearAllPLUAndMessages, SetAllPLU,
//     UpdateAllMessages, InitBufferSettings, SetSettings, SetHotKeys,
//     SetLabelFile(path), SetFontFile(path, number), SetLogoFile(path):
//         one exchange with the scale each, except that SetAllPLU and
//         UpdateAllMessages send a buffer too large for one request in
//         several, in buffer order, ending at the first that fails. They
//         never raise for a scale problem: LastError is 0 on success
//         (LastErrorMessage "OK") and one of the codes below otherwise, with
//         a readable LastErrorMessage.
//
// The connection to the scale at IPAddress stays open between exchanges and
// is replaced when the address changes or the scale has closed it.
//
// InitBufferSettings loads the scale's current settings into the buffer.
// SetSettings sends the whole buffer; it refuses (kErrSettingsNotLoaded,
// nothing sent) unless the buffer was loaded from the scale at the current
// IPAddress, so that a failed load never sends made-up values as the scale's.
//
// File paths are UTF-8 text; the file is read when the method is called.
//
// Misuse raises AutomationError whose message names the member: an unknown
// member, a write to a read-only property, a value of the wrong type (an int
// property takes an int or a whole double; a double property an int or a
// double; a date a date or a number; text only text, valid UTF-8; a bool only
// a bool), wrong method arguments, a PLU_ or Message_ property without a
// record in the buffer, a hot-key number outside 1..224 or a negative font
// number.
//
// One instance serves one thread at a time.
#ifndef TARVO_SCALEDRIVER_SCALE_DRIVER_H_
#define TARVO_SCALEDRIVER_SCALE_DRIVER_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "scaledriver/driver_interface.h"
#include "scaledriver/protocol.h"

namespace tarvo {

// LastError codes of failures on the driver's side. Codes 1..999 are the
// scale's own error answers, passed through unchanged.
constexpr int32_t kErrConnectRefused = 1001;     // nothing listens at the address
constexpr int32_t kErrConnectTimeout = 1002;     // no connection within the connect timeout
constexpr int32_t kErrConnectFailed = 1003;      // bad or empty address, unreachable network
constexpr int32_t kErrReplyTimeout = 1004;       // no complete reply within the reply timeout
constexpr int32_t kErrConnectionLost = 1005;     // the scale closed the connection early
constexpr int32_t kErrProtocol = 1006;           // the reply is not a valid reply
constexpr int32_t kErrRequestTooLarge = 1007;    // a file or one record exceeds the frame limit
constexpr int32_t kErrFileRead = 1008;           // the file to send cannot be read
constexpr int32_t kErrSettingsNotLoaded = 1009;  // SetSettings before a good InitBufferSettings

struct ScaleDriverOptions {
  int Port = 5001;                 // the scales' TCP port
  int ConnectTimeoutMs = 3000;     // to establish the connection
  int ReplyTimeoutMs = 10000;      // to send a request and read its reply
  int FileReplyTimeoutMs = 30000;  // the same for label, font and logo files
};

// Defaults, with Port from the environment variable TARVO_SCALE_PORT when it
// holds a port number (1..65535).
ScaleDriverOptions ScaleDriverOptionsFromEnvironment();

struct ScaleDriverMember;

class ScaleDriver : public AutomationObject {
 public:
  explicit ScaleDriver(ScaleDriverOptions options = ScaleDriverOptions());
  ~ScaleDriver() override;

  Variant GetProperty(const std::string& name) override;
  void SetProperty(const std::string& name, const Variant& value) override;
  Variant Invoke(const std::string& name, const std::vector<Variant>& args = {}) override;
  int32_t GetIdOfName(const std::string& name) override;
  Variant GetPropertyById(int32_t id) override;

 private:
  struct Buffers;

  // Reads the property `member` that the caller named `name`.
  Variant ReadProperty(const ScaleDriverMember* member, const std::string& name);

  // One request/response exchange with the scale at IPAddress. Sets
  // LastError; returns true and the reply body on success.
  bool Exchange(scale::Op op, const std::string& payload, int replyTimeoutMs, std::string* body);
  void SetError(int32_t code, const std::string& message);
  // Sends a PLU or message buffer in as many requests as the frame limit
  // needs (scale::RequestEnds), stopping at the first that fails. Sends
  // nothing when one record alone exceeds a request (kErrRequestTooLarge).
  template <typename Record>
  void SendRecords(scale::Op op, const std::vector<Record>& records);
  void LoadSettings();
  void SendSettings();
  void SendFile(const std::string& member, const std::vector<Variant>& args, scale::Op op);
  // The record that PLU_ and Message_ properties address; raises naming
  // `member` when the buffer is empty.
  scale::PluRecord& CurrentPlu(const std::string& member);
  scale::MessageRecord& CurrentMessage(const std::string& member);

  const ScaleDriverOptions options_;
  std::unique_ptr<Buffers> b_;
};

// Makes the driver known to `registry` as the built-in component
// "TarvoNetDriver" and maps the ProgID kScaleDriverProgId to it.
// Each created instance takes its options from the environment.
void RegisterScaleDriver(AutomationRegistry& registry);

}  // namespace tarvo

#endif  // TARVO_SCALEDRIVER_SCALE_DRIVER_H_
