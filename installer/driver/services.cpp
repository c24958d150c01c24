// The systemd unit of the driver: copying its files, enabling and starting it.
#include <sys/stat.h>
#include <unistd.h>

#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/logger.h"
#include "installer/process_state.h"

const file_trans fts[3] = {
    {"./conf/quelvanostrel-init@.service", "/lib/systemd/system"},
    {"./bin/pci_timeout.sh", "bin"},
    {"./bin/quelvanostrel.sh", "bin"},
};

// text as the replacement part of a sed "s|...|...|" command.
static std::string sed_replacement(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '|' || c == '&') out += '\\';
    out += c;
  }
  return out;
}

uint8_t DriverInstaller::PostInstallation() {
  if (config.no_systemd) {
    zulogger::logger(WARNING, "Skip installation of system services.\n");
    return CODE_SUCCESS;
  }
  // The prefix is filled into a staged copy of the unit templates, never into the package's.
  std::string conf = "conf";
  if (isDirExists(conf)) {
    if (uint8_t code = stage("conf", "conf", conf); code != 0) return code;
  }
  std::string cmd = "sed -i " + shell_quote("s|PREFIX|" + sed_replacement(prefix) + "|g") + " " +
                    shell_quote(conf) + "/*.service";
  zulogger::logger(INFO, "%s\n", cmd.c_str());
  // A unit file it could not edit is reported when it is copied.
  [[maybe_unused]] const int edited = system(cmd.c_str());
  zulogger::logger(INFO, "Install system service...\n");
  uint8_t r = install_systemd_services();
  if (r != 0)
    zulogger::logger(WARNING, "Install system service with fail.\n");
  else
    zulogger::logger(INFO, "Install system service succeed.\n");
  return r;
}

uint8_t DriverInstaller::install_systemd_services() {
  std::string name = "quelvanostrel-init@quelvan";
  if (get_module_status("vtn_peer_mem_drv") != 0) name += ",vtn_peer_mem_drv";
  if (get_module_status("vtnfs") != 0) name += ",vtnfs";
  Service unit{name, fts, 3, -128, 0};
  services.push_back(unit);

  if (is_inside_docker()) {
    zulogger::logger(WARNING, "Currently running in a docker environment. \n");
    if (iequals(arch, "aarch64") && iequals(distribution, "Kylin")) {
      std::string script = prefix + "bin/pci_timeout.sh";
      zulogger::logger(INFO, "running %s\n", script.c_str());
      std::string out;
      int status = 0;
      if (exec(shell_quote(script) + " 2>&1", out, status, false)) {
        zulogger::logger(INFO, "running %s succeed\n", script.c_str());
      } else {
        zulogger::logger(WARNING, "running %s failed. please check it.\n", script.c_str());
        zulogger::logger(INFO, "pci_timeout.sh:\n%s", out.c_str());
      }
    }
    return CODE_SUCCESS;
  }
  for (const auto& s : services) {
    uint8_t r = do_install_service(s, environment, prefix, arch);
    if (r != 0) {
      zulogger::logger(ERROR, "Install service %s failed: %s\n%s\n", s.name.c_str(), "",
                       code_banner(CODE_SERVICE_INSTALL).c_str());
      return r;
    }
  }
  return CODE_SUCCESS;
}

uint8_t DriverInstaller::do_install_service(Service service, int env, std::string prefix,
                                            std::string /*arch*/) {
  const char* unit = service.name.c_str();
  zulogger::logger(INFO, "Begin installing service: %s ...... \n", unit);
  for (unsigned i = 0; i < service.file_count; ++i) {
    const std::string source = staged(service.files[i].source);
    const std::string destination = service.files[i].destination;
    if (!isFileExists(source)) {
      zulogger::logger(ERROR, "service or bin not existed %s\n%s\n", source.c_str(),
                       code_banner(CODE_SERVICE_NOT_FOUND).c_str());
      return CODE_SERVICE_NOT_FOUND;
    }
    std::string dest = destination[0] == '/' ? host::path(destination) : prefix + "/" + destination;
    std::string cmd = "cp -f " + shell_quote(source) + " " + shell_quote(dest) + "  > /dev/null 2>&1";
    zulogger::logger(INFO, "cmd: << %s >>\n", cmd.c_str());
    std::string created;
    if (!isDirExists(dest)) {
      created = findNonExistParentDir(dest);
      createDir(dest);
    }
    std::string out;
    int status = 0;
    if (!exec(cmd, out, status, false)) {
      zulogger::logger(WARNING, "Install %s failed: %s\n", source.c_str(), out.c_str());
      continue;
    }
    std::vector<FileInfo> records;
    if (!created.empty()) {
      records = recursiveDir(created);
    } else {
      size_t slash = source.rfind('/');
      std::string file = dest + (slash == std::string::npos ? "/" + source : source.substr(slash));
      records.push_back({"FILE", file, cached_md5(file)});
    }
    for (const auto& f : records) {
      struct stat st;
      if (f.type == "FILE" && stat(f.path.c_str(), &st) == 0)
        chmod(f.path.c_str(), st.st_mode & 07777 & ~0033);
    }
    installed.insert(installed.end(), records.begin(), records.end());
  }
  if (env == 2) return CODE_SUCCESS;

  const std::string q = shell_quote(service.name);
  std::string out;
  int status = 0;
  if (!exec("systemctl enable " + q + " 2>&1 && systemctl restart " + q + " 2>&1", out, status, false)) {
    zulogger::logger(ERROR, "Install service %s failed: %s\n%s\n", unit, out.c_str(),
                     code_banner(CODE_SERVICE_INSTALL).c_str());
    return CODE_SERVICE_INSTALL;
  }
  auto& cache = process_state.digests;
  auto it = cache.find(service.name);
  std::string digest = it != cache.end() ? it->second : md5sum(staged(service.files[0].source));
  if (it == cache.end() && !digest.empty()) cache[service.name] = digest;
  installed.push_back({"SERVICE", service.name, digest});

  if (service.expected_status == -128) return CODE_SUCCESS;
  const int attempts = 3;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    zulogger::logger(INFO, "Checking service service_status: (%d/%d)\n", attempt, attempts);
    int pid = 0, unit_status = 0, process_status = 0;
    getServiceStatusInfo(service.name, pid, unit_status, process_status);
    if (pid == -1) {
      zulogger::logger(WARNING, "Get service %s service_status failed. please check manually\n", unit);
      return CODE_SUCCESS;
    }
    zulogger::logger(INFO, "pid %d service_status %d pidtstatus %d\n", pid, unit_status, process_status);
    if (service.expected_status != 0) {
      if (unit_status == service.expected_status &&
          process_status == static_cast<int>(service.expected_process_status))
        return CODE_SUCCESS;
      zulogger::logger(WARNING, "Service %s status is %d as expected, but it's process is %d other than %d\n",
                       unit, static_cast<int>(service.expected_status), process_status,
                       static_cast<int>(service.expected_process_status));
    } else {
      if (unit_status == 0) return CODE_SUCCESS;
      zulogger::logger(WARNING, "Service %s start with unexpected status.\n\texpected:%d, actual:%d\n",
                       unit, 0, unit_status);
    }
    sleep(5);
  }
  zulogger::logger(ERROR, "Driver module installation failed. %s\n", code_banner(CODE_MODULE_INSTALL).c_str());
  return CODE_MODULE_INSTALL;
}
