// common/ukwUpdLog.h: the launcher's in-memory log, the base of its long-lived
// objects, and its own exception classes.
//
// TkwUpdLog keeps this run's lines in memory; the launcher writes them once, at its end, to
// "kwVerify.log", newest run first:
//
//   08/12/2026 23:55:49 : INICIO - Execute...
//   08/12/2026 23:55:49 :  - Conexão aberta com sucesso.
//   08/12/2026 23:55:50 : FIM - Execute
//   (empty line)
//   ======================================================
//   (empty line)
//   ...the previous runs, as many as fit within 16 MB (kLimiteArquivoLog)...
//
// A time-stamped line is the local time "DD/MM/YYYY HH:MM:SS" (the locale's separators from
// rtl::FormatSettings, the cheap reading CoarseNow of plat::GetClock(), which is within a
// timer tick of the exact time), " : " and the text; detail lines start
// with " - ", item lines with " # ", error lines with " - Erro: ". Multi-line texts from a
// server or database are added as plain lines. Lines end in CR LF in the file, and so does a
// line break inside a line's text (a message with its cause on a line of its own); a control
// character of a text is shown as "\x" and two hexadecimal digits ("\x00"). The file is
// replaced through a temporary file and a rename, so a crash while saving leaves the old log
// or the new one, never a truncated one.
//
// The lines are locked: a connection thread whose attempt timed out may still be writing
// while the main thread goes on.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Memory.h"
#include "rtl/Exception.h"

class TkwUpdLog {
public:
    TkwUpdLog() = default;
    TkwUpdLog(const TkwUpdLog&) = delete;
    TkwUpdLog& operator=(const TkwUpdLog&) = delete;

    // Appends a time-stamped line: time stamp, " : ", text.
    void Adicione(std::string_view texto);
    // Adicione(" - " + texto).
    void AdicioneDetalhe(std::string_view texto);
    // Adicione(" # " + texto).
    void AdicioneItem(std::string_view texto);
    // AdicioneDetalhe("Erro: " + texto).
    void AdicioneErro(std::string_view texto);
    // Adicione of the parts joined, the line built in one piece: for lines put together from
    // several texts (a verification writes some twenty of them per requisite).
    void AdicionePartes(std::initializer_list<std::string_view> partes);
    // AdicionePartes of each line, for the lines a step writes at one time (a verification
    // writes some twenty per requisite, in a few steps): they share one reading of the clock.
    void AdicioneLinhas(std::initializer_list<std::initializer_list<std::string_view>> linhas);
    // Splits the text at CR LF, LF or CR and appends each line unchanged, without time
    // stamp; an empty text adds nothing and a final line break adds no empty line.
    void AdicioneTexto(std::string_view texto);

    // Every line followed by CR LF.
    std::string GetTexto() const;
    // A copy of this run's lines.
    std::vector<std::string> Linhas() const;

    // Writes the file and empties the lines. When the file exists, its read-only flag is
    // cleared and its lines follow this run's (after an empty line, 54 "=" and an empty line
    // when comSeparador is set), as many of its newest run blocks as keep the file within
    // `limite` bytes: older blocks are dropped whole, never cut, only the kept ones are read,
    // and this run's block then ends with a line saying so. This run's block itself is always
    // written whole, even when it alone passes the ceiling. File errors raise
    // (plat::EFileError, rtl::EWriteError...). The path is a text of either notation
    // (ukwUpdUtil.h).
    void SalveEmArquivo(const std::string& caminho, bool comSeparador, size_t limite = kLimiteArquivoLog);

    // The ceiling of the log file: without one every run added its block to a file read whole
    // at the next save, and a workstation with a large requisites list (tens of megabytes of
    // log per run) ran out of disk and memory within days.
    static constexpr size_t kLimiteArquivoLog = size_t(16) << 20;

private:
    // One time-stamped line "<stamp> : " followed by the parts, built with one allocation.
    void AdicioneComMarca(std::initializer_list<std::string_view> partes);
    // One time-stamped line of the parts, with stamp `carimbo`; under mutex_.
    void EscrevaLinha(std::initializer_list<std::string_view> partes, int32_t carimbo);

    // The text of a line and the time stamp in front of it (an index into carimbos_, -1: none).
    struct TLinha {
        std::string_view texto;
        int32_t carimbo;
    };
    // Where a line ends in its block, and its stamp; kept at the back of the block.
    struct TFimLinha {
        uint32_t fim;
        int32_t carimbo;
    };
    // A block of lines: the texts grow from the front, one TFimLinha per line from the back
    // (as a database page keeps its cells and their pointers), so the lines of a verification
    // (some 300,000) cost no allocation of their own and no array that grows by copying itself.
    struct TBloco {
        plat::LargeBlock dados;
        size_t capacidade = 0;
        size_t usado = 0;   // bytes of text, from the front
        size_t linhas = 0;  // records, from the back
        size_t Livre() const { return capacidade - usado - linhas * sizeof(TFimLinha); }
        TFimLinha Fim(size_t i) const;
        // Line i of the block (its text ends where the record says, and starts where the line
        // before it ends).
        TLinha Linha(size_t i) const;
    };

    // Room for a line of `tamanho` bytes of text, in the last block or in a new one when it would
    // not fit, recorded with its time stamp (an index into carimbos_, or -1 for none); under
    // mutex_.
    char* Reserve(size_t tamanho, int32_t carimbo);
    // Takes back the last line reserved, of `tamanho` bytes; under mutex_.
    void Desfaca(size_t tamanho);
    // Appends one plain line; under mutex_.
    void Acrescente(std::string_view linha);
    // The stamp of the lines written at `agora`: the last one of carimbos_, or a new one when
    // the second (or the locale's separators) changed; under mutex_.
    int32_t Carimbo(std::chrono::system_clock::time_point agora);
    // Calls f(stamp, text) for every line in order (stamp empty for a plain line); under mutex_.
    template <typename F>
    void ParaCadaLinha(F&& f) const;
    // Every line followed by CR LF; under mutex_.
    std::string Junte() const;

    mutable std::mutex mutex_;
    // The lines as the file will hold them, less their time stamps and their CR LF, in blocks
    // of a fixed room that are filled and never moved: a verification writes some 300,000 lines
    // (21 MB for 20,000 requisites), and a string per line, or one buffer that grows by copying
    // itself, cost as much as the rest of the verification. A line never spans two blocks.
    // Linhas() gives every line back as it was added (its controls shown, its line breaks as
    // CR LF), one holding a line break of its own as one line.
    std::vector<TBloco> blocos_;
    size_t totalLinhas_ = 0;
    // The stamp changes once a second: its text ("DD/MM/YYYY HH:MM:SS : ") is kept once for all
    // the lines of its second (a third of the bytes of a verification's lines) and written in
    // front of each line only when the text is put together. inicioSegundo_ (the start of its
    // second) and the separators tell when the last one no longer fits.
    std::vector<std::string> carimbos_;
    std::chrono::system_clock::time_point inicioSegundo_{};
    char separadorData_ = 0, separadorHora_ = 0;
};

// The base of the launcher's long-lived objects: holds the main log (not owned), the system
// code and a second log (not owned, only passed on), and marks the object's creation and
// destruction in the main log with "#CREATE# " / "#DESTROY# " and its class name.
class TkwUpdClasseBasica {
public:
    // Logs "#CREATE# " + nomeClasse, then "INICIO - Create...". C++ cannot ask a class still
    // under construction for its most derived name, so the subclass passes it.
    TkwUpdClasseBasica(std::string nomeClasse, TkwUpdLog* log, TkwUpdLog* logSecundario, int32_t cdSistema);
    // Logs "#DESTROY# " + the class name; frees neither log.
    virtual ~TkwUpdClasseBasica();
    TkwUpdClasseBasica(const TkwUpdClasseBasica&) = delete;
    TkwUpdClasseBasica& operator=(const TkwUpdClasseBasica&) = delete;

    const std::string& ClassName() const { return nomeClasse_; }

    TkwUpdLog* Log;
    int32_t CdSistema;
    TkwUpdLog* LogSecundario;

protected:
    // Logs "#DESTROY# " + the class name now instead of at the end of destruction, for a
    // subclass whose own destruction lines come after the base's mark (the destructor then
    // logs it no second time).
    void RegistreDestruicao();

private:
    std::string nomeClasse_;
    bool destruicaoRegistrada_ = false;
};

// A failure the launcher detected itself. Creating one adds "EXCEPTION: " + the message to
// the given log before anything can catch it, so the handlers do not log it again.
class TkwUpdException : public rtl::Exception {
public:
    TkwUpdException(const std::string& mensagem, TkwUpdLog& log);
    const char* ClassName() const noexcept override { return "TkwUpdException"; }
};

// No update site is available; only its class matters to the launcher's error handler.
class EkwLocalUpdateIndisponivel : public TkwUpdException {
public:
    using TkwUpdException::TkwUpdException;
    const char* ClassName() const noexcept override { return "EkwLocalUpdateIndisponivel"; }
};
