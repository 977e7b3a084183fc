// The command server: the service's remote control on its command port.
// An operator's tool reads and changes the settings, the scale list and the
// field configuration, uploads files into the import folder and asks the
// main loop to reload, restart or shut down, one text line at a time.
//
// Uploads count against the upload limit of CommandLimits: with the default
// 512 MiB of text a file of up to 256 MiB, since each byte travels as two
// hexadecimal digits.
#ifndef TARVO_NET_COMMAND_SERVER_H_
#define TARVO_NET_COMMAND_SERVER_H_

#include <span>
#include <string>

#include "net/command_port.h"
#include "net/service_host.h"

namespace tarvo {

class CommandServer : public CommandPort {
 public:
  // Listens on `ip` ("" = every local address) at `port` once activated.
  CommandServer(ServiceHost& host, std::string ip, int port, CommandLimits limits = {});
  ~CommandServer() override;

  // The commands, in matching order; a command's Tag is its index.
  static std::span<const CommandSpec> Commands();

 protected:
  void Execute(const CommandCall& call, CommandLines& lines, CommandReply* reply) override;

 private:
  void CmdTCPServerCommandHandlers_Execute(const CommandCall& call, CommandLines& lines,
                                           CommandReply* reply);
  void SetSettings(const std::string& params, CommandLines& lines, CommandReply* reply);
  void GetAllSettings(CommandLines& lines);
  void GetScaleList(CommandLines& lines);
  void SetScaleList(CommandLines& lines, CommandReply* reply);
  void GetFieldsConfig(CommandLines& lines);
  void SetFieldsConfig(CommandLines& lines, CommandReply* reply);
  void SetHexFile(CommandLines& lines, CommandReply* reply);

  // A level-5 line and the failure reply of a command.
  void Fail(CommandReply* reply, const std::string& log_text, const std::string& reply_text);
  void Log(const std::string& text, int level) { host_.LogWrite(text, level); }
  MServiceSettings& Settings() { return host_.ServiceSettings(); }
};

// True when `name` may be joined to the import folder: not empty, not "."
// or "..", without a folder delimiter ("/" or "\"), a drive or stream colon
// or a control character.
bool IsPlainFileName(const std::string& name);

}  // namespace tarvo

#endif  // TARVO_NET_COMMAND_SERVER_H_
