// tests/tls/FtpPeers.h: FTP servers for the FTP client's tests: the scripted peer
// (tests/peers/ftp_peer.py) for exact commands and hostile replies, proftpd (users from a
// file, MODE Z through mod_deflate, TLS through mod_tls) and pyftpdlib, each on a free port
// of 127.0.0.1 with folders of their own, always stopped.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Process.h"
#include "support/TestSupport.h"
#include "tests/net/PeerProcess.h"
#include "tests/net/ScriptBuilder.h"
#include "tests/net/SocksPeers.h"
#include "tests/tls/TlsTestSupport.h"

namespace kwtest {

class FtpScript {
public:
    FtpScript& Send(std::string_view text) { return Step("\"send\"," + Script::Quote(text)); }
    FtpScript& Cmd(int n = 1) { return Step("\"cmd\"," + std::to_string(n)); }
    // Reads a command and answers it.
    FtpScript& Reply(std::string_view text) { return Cmd().Send(text); }
    FtpScript& Pasv() { return Step("\"pasv\""); }
    FtpScript& Pasv(std::string_view text) { return Step("\"pasv\"," + Script::Quote(text)); }
    FtpScript& Accept() { return Step("\"accept\""); }
    FtpScript& Port() { return Step("\"port\""); }
    FtpScript& Data(std::string_view text) { return Step("\"data\"," + Script::Quote(text)); }
    FtpScript& DataRecv() { return Step("\"data_recv\""); }
    FtpScript& DataClose() { return Step("\"data_close\""); }
    FtpScript& Sleep(int ms) { return Step("\"sleep\"," + std::to_string(ms)); }
    FtpScript& Close() { return Step("\"close\""); }
    // The usual start: greeting, USER, PASS, FEAT answered 502 (or with the reply given).
    FtpScript& Greeting(std::string_view featReply = "502 no FEAT\r\n") {
        return Send("220 kw test\r\n").Reply("331 password\r\n").Reply("230 in\r\n").Reply(featReply);
    }
    // One passive download of data: TYPE answered 200, PASV, the transfer command read, the
    // data connection accepted, 150, the data and its close, 226.
    FtpScript& PassiveDownload(std::string_view data) {
        return Reply("200 type\r\n").Cmd().Pasv().Cmd().Accept().Send("150 here\r\n").Data(data).DataClose().Send(
            "226 done\r\n");
    }
    std::string Json() const { return "[" + steps_ + "]"; }

private:
    FtpScript& Step(const std::string& body) {
        if (!steps_.empty()) steps_ += ",";
        steps_ += "[" + body + "]";
        return *this;
    }
    std::string steps_;
};

class FtpScriptPeer {
public:
    explicit FtpScriptPeer(const FtpScript& script) {
        WriteFile(dir_ / "script.json", script.Json());
        const std::string program = std::string(KW_SOURCE_DIR) + "/tests/peers/ftp_peer.py";
        if (!process_.Start({"python3", program, dir_.path().string(), (dir_ / "script.json").string()},
                            (dir_ / "stderr").string())) {
            reason_ = "python3 could not be started";
            return;
        }
        if (!Eventually([&] { return std::filesystem::exists(dir_ / "port") || process_.Exited(); },
                        std::chrono::seconds(60)) ||
            !std::filesystem::exists(dir_ / "port")) {
            reason_ = "the FTP peer did not start: " + ReadFile(dir_ / "stderr");
            return;
        }
        port_ = std::stoi(ReadFile(dir_ / "port"));
    }
    bool Available() const { return port_ > 0; }
    const std::string& Reason() const { return reason_; }
    int Port() const { return port_; }
    bool Finished() {
        Eventually([&] { return process_.Exited(); }, std::chrono::seconds(60));
        return process_.Exited() && process_.ExitCode() == 0;
    }
    // The command lines our client sent (after Finished).
    std::string Transcript() {
        Finished();
        return std::filesystem::exists(dir_ / "transcript") ? ReadFile(dir_ / "transcript") : std::string();
    }
    std::string DataReceived(int n) {
        Finished();
        const auto p = dir_ / ("data-" + std::to_string(n));
        return std::filesystem::exists(p) ? ReadFile(p) : std::string();
    }
    std::string Errors() { return ReadFile(dir_ / "stderr"); }

private:
    TempDir dir_;
    PeerProcess process_;
    int port_ = 0;
    std::string reason_;
};

// The folder a server serves: reachable and writable by the user the server drops to.
class FtpRoot {
public:
    FtpRoot() { ::chmod(dir_.path().c_str(), 0777); }
    const std::filesystem::path& Path() const { return dir_.path(); }
    void Add(const std::string& name, const std::string& content) const {
        WriteFile(dir_ / name, content);
        ::chmod((dir_ / name).c_str(), 0666);
    }
    std::string Read(const std::string& name) const { return ReadFile(dir_ / name); }
    bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }

private:
    TempDir dir_;
};

// A server started from a configuration text, with a folder of its own for what the
// configuration names besides the server's working folder.
class ConfiguredFtpd {
public:
    bool Available() const { return server_->Available(); }
    std::string Reason() const { return server_->Reason(); }
    int Port() const { return server_->Port(); }

protected:
    void Start(const std::string& program, std::vector<std::string> args, const std::string& config) {
        server_ = std::make_unique<DaemonPeer>(program, std::move(args), config);
    }
    TempDir conf_;

private:
    std::unique_ptr<DaemonPeer> server_;
};

// Where proftpd is: installed, or unpacked by scripts/install-deps beside a vsftpd that
// conflicts with its package. The folder of its modules is the second.
inline std::pair<std::string, std::string> ProFtpdProgram() {
    const std::string unpacked = "/opt/kwloader-peers/proftpd";
    if (::access("/usr/sbin/proftpd", X_OK) == 0) return {"/usr/sbin/proftpd", "/usr/lib/proftpd"};
    return {unpacked + "/usr/sbin/proftpd", unpacked + "/usr/lib/proftpd"};
}

// proftpd with one user ("kw", password "secret") whose home is the root folder; extra is
// appended to the configuration (mod_tls settings). Run as root it drops to nobody, which the
// root folder lets in.
class ProFtpd : public ConfiguredFtpd {
public:
    explicit ProFtpd(const FtpRoot& root, const std::string& extra = {}) {
        const auto program = ProFtpdProgram();
        const bool asRoot = ::geteuid() == 0;
        const std::string uid = asRoot ? "65534" : std::to_string(::geteuid());
        const std::string gid = asRoot ? "65534" : std::to_string(::getegid());
        // "secret" in the MD5 crypt form (openssl passwd -1 -salt kwsalt00 secret).
        const std::string users = "kw:$1$kwsalt00$mfuLbBdpT44WLYR5XkBFD0:" + uid + ":" + gid +
                                  ":kw:" + root.Path().string() + ":/bin/sh\n";
        WriteFile(conf_ / "users", users);
        ::chmod((conf_ / "users").c_str(), 0600);
        const std::string config =
            "ServerType standalone\n"
            "ServerName \"kw test\"\n"
            "DefaultAddress 127.0.0.1\n"
            "Port {PORT}\n" +
            std::string(asRoot ? "User nobody\nGroup nogroup\n" : "") +
            "PidFile {DIR}/pid\n"
            "ScoreboardFile {DIR}/scoreboard\n"
            "DelayTable none\n"
            "WtmpLog off\n"
            "UseIPv6 off\n"
            "UseReverseDNS off\n"
            "RequireValidShell off\n"
            "AuthOrder mod_auth_file.c\n"
            "AuthUserFile " +
            (conf_ / "users").string() +
            "\n"
            "DefaultRoot ~\n"
            "AllowOverwrite on\n"
            "AllowRetrieveRestart on\n"
            "AllowStoreRestart on\n"
            "TransferLog none\n"
            "SystemLog {DIR}/syslog\n"
            "ModulePath " +
            program.second +
            "\n"
            "LoadModule mod_deflate.c\n"
            "LoadModule mod_tls.c\n"
            "<IfModule mod_deflate.c>\n  DeflateEngine on\n</IfModule>\n" +
            extra;
        Start(program.first, {"-n", "-c", "{DIR}/server.conf"}, config);
    }
};

// vsftpd serving anonymous users from a root folder; they read there and write in its
// "pub" folder (vsftpd refuses a root it chroots into that its users may write). Installed,
// or unpacked by scripts/install-deps beside a proftpd that conflicts with its package. Run
// by another user than root it stays that user and does not chroot. Anonymous sessions run as
// "daemon", a user every Debian system has with a home that exists (vsftpd enters it first).
class VsFtpd : public ConfiguredFtpd {
public:
    explicit VsFtpd(const FtpRoot& root, const std::string& extra = {}) {
        const bool asRoot = ::geteuid() == 0;
        ::chmod(root.Path().c_str(), 0755);
        std::filesystem::create_directory(root.Path() / "pub");
        ::chmod((root.Path() / "pub").c_str(), 0777);
        std::filesystem::create_directory(conf_ / "empty");
        ::chmod((conf_ / "empty").c_str(), 0755);
        ::chmod(conf_.path().c_str(), 0755);
        const std::string program = ::access("/usr/sbin/vsftpd", X_OK) == 0
                                        ? "/usr/sbin/vsftpd"
                                        : "/opt/kwloader-peers/vsftpd/usr/sbin/vsftpd";
        const std::string config =
            "listen=YES\n"
            "listen_ipv6=NO\n"
            "listen_address=127.0.0.1\n"
            "listen_port={PORT}\n"
            "background=NO\n"
            "anonymous_enable=YES\n"
            "local_enable=NO\n"
            "no_anon_password=YES\n"
            "anon_root=" +
            root.Path().string() +
            "\n"
            "write_enable=YES\n"
            "anon_upload_enable=YES\n"
            "anon_mkdir_write_enable=YES\n"
            "anon_other_write_enable=YES\n"
            "anon_umask=022\n"
            "ftp_username=daemon\n"
            "nopriv_user=nobody\n"
            "secure_chroot_dir=" +
            (conf_ / "empty").string() +
            "\n"
            "seccomp_sandbox=NO\n"
            "isolate=NO\n"
            "isolate_network=NO\n"
            "xferlog_enable=NO\n"
            "syslog_enable=NO\n"
            "connect_from_port_20=NO\n"
            "tcp_wrappers=NO\n"
            "check_shell=NO\n"
            "pasv_enable=YES\n"
            "port_enable=YES\n" +
            std::string(asRoot ? "" : "run_as_launching_user=YES\n") + extra;
        Start(program, {"{DIR}/server.conf"}, config);
    }
};

// mod_tls settings for ProFtpd: TLS 1.2 with the engine's CBC-SHA suites and a test
// certificate (tests/tls/make-certs.sh) with its intermediate; implicit TLS when asked; extra
// lines inside the module's section (session reuse, client verification: without a
// TLSVerifyClient line there no client certificate is asked for).
inline std::string ProFtpdTls(bool implicit, const std::string& certificate = "server-rsa",
                              const std::string& extra = {}) {
    return "<IfModule mod_tls.c>\n"
           "  TLSEngine on\n"
           "  TLSProtocol TLSv1.2\n"
           "  TLSCipherSuite AES128-SHA:AES256-SHA:DHE-RSA-AES128-SHA:@SECLEVEL=0\n"
           "  TLSRSACertificateFile " +
           Cert(certificate + ".pem") +
           "\n"
           "  TLSRSACertificateKeyFile " +
           Cert(certificate + ".key") +
           "\n"
           "  TLSCertificateChainFile " +
           Cert("int.pem") +
           "\n"
           "  TLSRenegotiate none\n"
           "  TLSLog {DIR}/tls.log\n" +
           std::string(implicit ? "  TLSOptions UseImplicitSSL\n" : "") +
           (extra.find("TLSVerifyClient") == std::string::npos ? "  TLSVerifyClient off\n" : "") + extra +
           "</IfModule>\n";
}

// vsftpd settings for TLS on anonymous sessions, control and data connections required, with
// server-rsa and the engine's CBC-SHA suites; extra lines are appended (implicit TLS, session
// reuse, client certificates).
inline std::string VsFtpdTls(const std::string& extra = {}) {
    return "ssl_enable=YES\n"
           "allow_anon_ssl=YES\n"
           "force_anon_logins_ssl=YES\n"
           "force_anon_data_ssl=YES\n"
           "ssl_tlsv1=YES\nssl_sslv2=NO\nssl_sslv3=NO\n"
           "ssl_ciphers=AES128-SHA:AES256-SHA:DHE-RSA-AES128-SHA:@SECLEVEL=0\n"
           "rsa_cert_file=" +
           Cert("server-rsa-chain.pem") + "\nrsa_private_key_file=" + Cert("server-rsa.key") + "\n" + extra;
}

// pyftpdlib's own server (Debian's python3-pyftpdlib) with the user "kw" / "secret" and
// write access to the root folder.
struct PyFtpd : DaemonPeer {
    explicit PyFtpd(const FtpRoot& root)
        : DaemonPeer("python3", {"-m", "pyftpdlib", "-i", "127.0.0.1", "-p", "{PORT}", "-w", "-d",
                                 root.Path().string(), "-u", "kw", "-P", "secret"}) {}
};

}  // namespace kwtest
