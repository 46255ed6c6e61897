// flash --dry-run: each port opened with the loader's settings and closed again, nothing
// sent, so that a wrong or busy port shows before a board is connected.
#include <ostream>

#include "cli_commands.h"
#include "cli_messages.h"
#include "serial/ser_comm.h"

namespace cli {

int CheckPorts(const std::vector<std::string>& ports, std::ostream& err) {
  int status = kExitOk;
  for (const std::string& port : ports) {
    serial::TSerComm comm;
    serial::ApplyLoaderSettings(comm);
    comm.SetDeviceName(port);
    try {
      comm.Open();
      comm.Close();
    } catch (const std::exception& e) {
      err << kProgramPrefix << PortErrorText(port, e) << std::endl;
      status = kExitFailure;
    }
  }
  return status;
}

}  // namespace cli
