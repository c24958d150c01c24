// Module signing: a generated (or the user's) key pair, the kernel's sign-file tool, and the
// saved copy of a generated pair under /usr/share/quelvan for the user to enroll.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "installer/codes.h"
#include "installer/driver/driver_installer.h"
#include "installer/host.h"
#include "installer/logger.h"

namespace fs = std::filesystem;

uint8_t DriverInstaller::do_sign_module(const std::string& module_file) {
  std::string& secret = options.module_signing_secret_key;
  std::string& pub = options.module_signing_public_key;
  if ((secret.empty() || pub.empty()) && !reuse_saved_key()) {
    const std::string openssl = whichBinary("openssl");
    if (openssl.empty()) {
      zulogger::logger(ERROR, "generate key failed, openssl not found.\n%s\n",
                       code_banner(CODE_KEY_GENERATION).c_str());
      return CODE_KEY_GENERATION;
    }
    pub.clear();
    secret.clear();
    if (!createTmpFile(pub, 0644) || !createTmpFile(secret, 0600) || pub.empty() ||
        secret.empty()) {
      zulogger::logger(ERROR, "Failed to create temorary file for module sign\n%s\n",
                       code_banner(CODE_TMPFILE).c_str());
      return CODE_TMPFILE;
    }
    zulogger::logger(INFO, "private key:%s\npublic_key:%s\n", secret.c_str(), pub.c_str());
    const std::string cmd = shell_quote(openssl) +
                            " req -new -x509 -newkey rsa:2048 -days 7300 -nodes -subj"
                            " \"/CN=ostrel-installer generated signing key/\"" +
                            " -keyout " + shell_quote(secret) + " -outform DER -out " +
                            shell_quote(pub) + " 2>&1";
    std::string out;
    int status = -1;
    if (!exec(cmd, out, status, false)) {
      zulogger::logger(ERROR, "Failed to generate key pair %s, and failed to execute command\n%s\n",
                       strerror(status), code_banner(CODE_KEY_GENERATION).c_str());
      zulogger::logger(ERROR, "cmd:%s, error code: %d --> error message: %s\n", cmd.c_str(),
                       status, out.c_str());
      return CODE_KEY_GENERATION;
    }
    options.key_pair_generated = true;
  }

  if (options.module_signing_hash.empty() &&
      !guess_module_signing_hash(options.module_signing_hash)) {
    zulogger::logger(WARNING, "Unable to guess the module signing hash\nGuessing sha256\n");
    options.module_signing_hash = "sha256";
  }

  const std::string cmd = shell_quote(options.kernel_source_path + "/scripts/sign-file") + " " +
                          shell_quote(options.module_signing_hash) + " " + shell_quote(secret) +
                          " " + shell_quote(pub) + " " + shell_quote(module_file) + " 2>&1";
  std::string out;
  int status = -1;
  if (exec(cmd, out, status, false)) {
    zulogger::logger(INFO, "using secret: %s\nusing public der: %s\n", secret.c_str(), pub.c_str());
    return CODE_SUCCESS;
  }
  zulogger::logger(ERROR, "cmd:%s, error code: %d --> error message: %s\n", cmd.c_str(), status,
                   out.c_str());
  zulogger::logger(ERROR, "Module loading failed due to unverified signature, failed to sign module file: %s\n",
                   strerror(status));
  return CODE_SIGN_MODULE_FILE;
}

std::string DriverInstaller::get_fingerprint_from_key(const std::string& certificate) {
  const std::string openssl = whichBinary("openssl");
  if (openssl.empty()) return "";
  const std::string cmd = shell_quote(openssl) + " x509 -noout -fingerprint -inform DER -in " +
                          shell_quote(certificate) + " 2>&1";
  std::string out;
  int status = -1;
  if (!exec(cmd, out, status, false)) {
    zulogger::logger(ERROR, "try get key's fingerprint failed: command:%s : error code: %d --> error message: %s\n",
                     cmd.c_str(), status, out.c_str());
    return "";
  }
  size_t eq = out.find('=');
  std::string rest = eq == std::string::npos ? out : out.substr(eq + 1);
  return rest.substr(0, 8);
}

uint8_t DriverInstaller::save_module_sign_key() {
  const std::string dir = host::path(module_key_dir);
  if (!isDirExists(dir)) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !isDirExists(dir)) {
      const int err = ec ? ec.value() : ENOTDIR;
      zulogger::logger(ERROR, "create directories << %s >> failed: error code: %d --> error message: %s\n",
                       dir.c_str(), err, strerror(err));
      return CODE_CREATE_DIR;
    }
    chmod(dir.c_str(), 0755);
  }
  // The directory and the pair are not recorded for removal: the next installation reuses the
  // pair, so a key enrolled for Secure Boot stays valid.

  std::string base;
  std::string fingerprint = get_fingerprint_from_key(options.module_signing_public_key);
  if (!fingerprint.empty()) {
    zulogger::logger(INFO, "The generated key's fingerprint is %s\n", fingerprint.c_str());
    std::erase(fingerprint, ':');
    base = "quelvan-cert-" + fingerprint.substr(0, 8);
  }

  struct Key {
    std::string* path;
    const char* extension;
  };
  for (Key key : {Key{&options.module_signing_public_key, ".der"},
                  Key{&options.module_signing_secret_key, ".key"}}) {
    const std::string source = *key.path;
    if (!isFileExists(source)) {
      zulogger::logger(INFO, "key file %s not exist.\n", source.c_str());
      continue;
    }
    const std::string name = base.empty() ? fs::path(source).filename().string() : base;
    const std::string dest = dir + "/" + name + key.extension;
    std::error_code ec;
    fs::copy_file(source, dest, fs::copy_options::none, ec);
    if (ec) {
      // The temporary file stays: it is the only copy of the pair.
      zulogger::logger(WARNING, "copy key file << %s >> failed: error message: %s\n",
                       source.c_str(), ec.message().c_str());
      continue;
    }
    fs::permissions(dest, fs::perms(0117), fs::perm_options::remove, ec);
    zulogger::logger(INFO, "Module sign key:%s\n", dest.c_str());
    *key.path = dest;
    fs::remove(source, ec);
  }
  return CODE_SUCCESS;
}

bool DriverInstaller::reuse_saved_key() {
  // The first saved certificate, in name order, whose private key lies beside it.
  for (const std::string& der : zuglob(host::path(module_key_dir) + "/quelvan-cert-*.der")) {
    const std::string key = der.substr(0, der.size() - 4) + ".key";
    if (!isFileExists(key)) continue;
    zulogger::logger(INFO, "Reusing the saved module signing key pair %s, %s\n", der.c_str(), key.c_str());
    options.module_signing_public_key = der;
    options.module_signing_secret_key = key;
    return true;
  }
  return false;
}
