#include "nvmctrl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace samd21 {

Nvmctrl::Nvmctrl(Entorno &e, std::vector<uint8_t> &flash, const std::string &ruta_fichero)
    : e_(e), flash_(flash), ruta_fichero_(ruta_fichero)
{
    fila_usuario_.assign(FILA_USUARIO_BYTES, 0xFF);
    // A board ships with the user row its bootloader leaves: an 8 KB boot
    // section, no EEPROM section, the watchdog off.
    const uint32_t fabrica[2] = {0xD8E0C7FAu, 0xFFFFFC5Du};
    std::memcpy(fila_usuario_.data(), fabrica, sizeof fabrica);
    std::memset(buffer_, 0xFF, sizeof buffer_);
    cargar_fichero();
}

void Nvmctrl::reiniciar(TipoReset)
{
    // Every reset loads the fuses anew; LOCK takes the row's region lock bits.
    uint64_t f = fusibles();
    cargados_ = fusibles_de((uint32_t)f, (uint32_t)(f >> 32));
    ctrlb_ = addr_ = 0;
    status_ = 0;
    lock_ = cargados_.bloqueos;
    intflag_error_ = inten_ = 0;
    std::memset(buffer_, 0xFF, sizeof buffer_);
    buffer_cargado_ = false;
}

uint64_t Nvmctrl::fusibles() const
{
    uint64_t f = 0;
    std::memcpy(&f, fila_usuario_.data(), 8);
    return f;
}

uint32_t Nvmctrl::leer(uint32_t r)
{
    switch (r) {
    case 0x00: return 0;
    case 0x04: return ctrlb_;
    case 0x08: return 0x00031000u;  // PARAM: 4096 pages of 64 bytes
    case 0x0C: case 0x10: return inten_;
    case 0x14: return 1u | (intflag_error_ ? 2u : 0u);  // READY: the core stalls while the flash is busy
    case 0x18: return (uint32_t)status_ | (buffer_cargado_ ? 2u : 0u);
    case 0x1C: return addr_;
    case 0x20: return lock_;
    default: break;
    }
    e_.parar("read of an unmodelled NVMCTRL register", BASE + r);
}

void Nvmctrl::escribir(uint32_t r, uint32_t v, uint32_t m)
{
    switch (r) {
    case 0x00:
        if (m != 0xFFFF) e_.parar("NVMCTRL.CTRLA written by halves: the command and its key go together", BASE + r);
        if (((v >> 8) & 0xFF) != 0xA5) {
            error_programacion();
            return;
        }
        comando(v & 0x7F);
        return;
    case 0x04: ctrlb_ = ((ctrlb_ & ~m) | (v & m)) & 0x000703DEu; return;
    case 0x08: return;
    case 0x0C: inten_ &= (uint8_t)~v; return;
    case 0x10:
        if (v & 3) e_.parar("NVMCTRL interrupt not modelled", BASE + r);
        return;
    case 0x14:
        if (v & 2) intflag_error_ = 0;
        return;
    case 0x18:
        status_ &= (uint16_t)~(v & 0x1C);
        if (v & 2) buffer_cargado_ = false;
        return;
    case 0x1C: addr_ = ((addr_ & ~m) | (v & m)) & 0x003FFFFFu; return;
    case 0x20: return;
    default: break;
    }
    e_.parar("write to an unmodelled NVMCTRL register", BASE + r);
}

// STATUS.PROGE and INTFLAG.ERROR: a command without its key, one the
// controller does not know, or an address it does not take.
void Nvmctrl::error_programacion()
{
    status_ |= 0x04;
    intflag_error_ = 1;
}

// STATUS.LOCKE and INTFLAG.ERROR: an erase or write of a protected row.
void Nvmctrl::error_bloqueo()
{
    status_ |= 0x08;
    intflag_error_ = 1;
}

bool Nvmctrl::protegida(uint32_t byte) const
{
    if (byte < cargados_.bytes_protegidos()) return true;
    uint32_t region = byte / (FLASH_BYTES / 16);
    return region < 16 && !((lock_ >> region) & 1u);
}

void Nvmctrl::comando(uint32_t cmd)
{
    uint32_t byte = addr_ * 2;  // ADDR counts 16-bit words
    bool en_eeprom = byte >= EEPROM_BASE && byte < EEPROM_BASE + EEPROM_BYTES;
    // The auxiliary commands (EAR, WAP) take ADDR within the auxiliary space:
    // the user row is ADDR 0x2000, which the vendor's code writes as the
    // word address of 0x804000, 0x402000 (ADDR keeps bits 21:0).
    uint32_t aux = NVM_AUX | (byte & (NVM_AUX - 1));
    bool en_fila = aux >= FILA_USUARIO && aux < FILA_USUARIO + FILA_NVM;
    // Programming stalls the core: the application runs from the same flash.
    constexpr uint64_t T_BORRADO_FILA = 288000;      // 6 ms
    constexpr uint64_t T_ESCRITURA_PAGINA = 120000;  // 2.5 ms
    switch (cmd) {
    case 0x02:  // ER: erase row
        if (byte < FLASH_BYTES && protegida(byte)) {
            error_bloqueo();
            return;
        }
        if (en_eeprom) {
            std::memset(flash_.data() + (byte & ~(FILA_NVM - 1)), 0xFF, FILA_NVM);
            borrados_eeprom_++;
            guardar_fichero();
        } else if (byte < FLASH_BYTES) {
            e_.parar("row erase in the application's flash, outside the EEPROM rows", byte);
        } else {
            error_programacion();
            return;
        }
        e_.estancar(T_BORRADO_FILA);
        return;
    case 0x04:  // WP: write page
        if (byte < FLASH_BYTES && protegida(byte)) {
            error_bloqueo();
            return;
        }
        if (!en_eeprom) {
            if (byte < FLASH_BYTES) e_.parar("page write in the application's flash, outside the EEPROM rows", byte);
            error_programacion();
            return;
        }
        if (long long corte = e_.corte_en_escritura(); corte >= 0) {
            // The power goes while the page is programmed: only its first
            // bytes reach the flash.
            uint32_t n = (uint32_t)std::min<long long>(corte % (PAGINA_NVM + 1), PAGINA_NVM);
            for (uint32_t i = 0; i < n; i++) flash_[(byte & ~(PAGINA_NVM - 1)) + i] &= buffer_[i];
            guardar_fichero();
            e_.cortar_alimentacion();
        }
        for (uint32_t i = 0; i < PAGINA_NVM; i++) flash_[(byte & ~(PAGINA_NVM - 1)) + i] &= buffer_[i];
        paginas_escritas_++;
        std::memset(buffer_, 0xFF, sizeof buffer_);
        buffer_cargado_ = false;
        guardar_fichero();
        e_.estancar(T_ESCRITURA_PAGINA);
        return;
    case 0x05:  // EAR: erase the auxiliary row
        if (!en_fila) { error_programacion(); return; }
        std::fill(fila_usuario_.begin(), fila_usuario_.end(), 0xFF);
        guardar_fichero();
        e_.estancar(T_BORRADO_FILA);
        return;
    case 0x06:  // WAP: write an auxiliary page
        if (!en_fila) { error_programacion(); return; }
        if ((aux & ~(PAGINA_NVM - 1)) == FILA_USUARIO)
            for (uint32_t i = 0; i < FILA_USUARIO_BYTES; i++) fila_usuario_[i] &= buffer_[i];
        escrituras_fila_usuario_++;
        std::memset(buffer_, 0xFF, sizeof buffer_);
        buffer_cargado_ = false;
        guardar_fichero();
        e_.estancar(T_ESCRITURA_PAGINA);
        return;
    case 0x44:  // PBC: page buffer clear
        std::memset(buffer_, 0xFF, sizeof buffer_);
        buffer_cargado_ = false;
        e_.estancar(64);
        return;
    case 0x46:  // INVALL: the cache holds nothing of ours
        e_.estancar(0);
        return;
    case 0x0A: case 0x0F: case 0x40: case 0x41: case 0x42: case 0x43: case 0x45:
        // SF, WL, LR, UR, SPRM, CPRM, SSB: commands of the chip not modelled here.
        e_.parar("NVMCTRL command " + hex(cmd) + " not modelled", BASE);
    default:
        error_programacion();   // no such command
        return;
    }
}

bool Nvmctrl::leer_byte_espacio(uint32_t a, uint8_t &b) const
{
    b = 0xFF;
    if (a >= EEPROM_BASE && a < EEPROM_BASE + EEPROM_BYTES) b = flash_[a];
    else if (a >= FILA_USUARIO && a < FILA_USUARIO + FILA_USUARIO_BYTES) b = fila_usuario_[a - FILA_USUARIO];
    else if (a >= FILA_USUARIO && a < FILA_USUARIO + FILA_NVM) b = 0xFF;
    else if (a >= CALIBRACION && a < CALIBRACION + 8) {
        // Software calibration row: DFLL48M coarse value 0x1F, the rest unprogrammed.
        const uint8_t cal[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
        b = cal[a - CALIBRACION];
    } else if ((a >= 0x0080A00Cu && a < 0x0080A010u) || (a >= 0x0080A040u && a < 0x0080A04Cu)) {
        b = (uint8_t)(0x5A ^ (a & 0xFF));  // the serial number
    } else {
        return false;
    }
    return true;
}

void Nvmctrl::escribir_espacio(uint32_t d, unsigned ancho, uint64_t valor)
{
    bool en_eeprom = d >= EEPROM_BASE && d < EEPROM_BASE + EEPROM_BYTES;
    bool en_fila = d >= FILA_USUARIO && d < FILA_USUARIO + FILA_NVM;
    if (!en_eeprom && !en_fila) e_.parar("write to the NVM space outside the EEPROM rows and the user row", d);
    if (ancho == 1) e_.parar("8-bit write to the NVM page buffer (only 16 and 32 bits are taken)", d);
    uint32_t off = d & (PAGINA_NVM - 1);
    for (unsigned i = 0; i < ancho && off + i < PAGINA_NVM; i++) buffer_[off + i] = (uint8_t)(valor >> (8 * i));
    buffer_cargado_ = true;
    addr_ = (d / 2) & 0x003FFFFFu;
    // Automatic page write when the page's last word is written (CTRLB.MANW = 0).
    if (!(ctrlb_ & 0x80) && off + ancho >= PAGINA_NVM) comando(en_fila ? 0x06 : 0x04);
}

// The flash file: the EEPROM rows, then the user row.
void Nvmctrl::cargar_fichero()
{
    if (ruta_fichero_.empty()) return;
    std::ifstream f(ruta_fichero_, std::ios::binary);
    if (!f) return;  // a new chip: erased rows
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (d.size() != EEPROM_BYTES + FILA_USUARIO_BYTES) {
        // Not this board's flash (the host board's EEPROM file, or damaged):
        // kept aside untouched, and the chip starts with erased rows.
        std::string aparte = ruta_fichero_ + ".not-samd21";
        std::error_code ec;
        std::filesystem::copy_file(ruta_fichero_, aparte, std::filesystem::copy_options::overwrite_existing, ec);
        std::fprintf(stderr, "olas-sim: %s is not an ATSAMD21 flash file (%zu bytes, expected %u); kept as %s, "
                             "starting from erased EEPROM rows\n",
                     ruta_fichero_.c_str(), d.size(), EEPROM_BYTES + FILA_USUARIO_BYTES, aparte.c_str());
        return;
    }
    std::memcpy(flash_.data() + EEPROM_BASE, d.data(), EEPROM_BYTES);
    std::memcpy(fila_usuario_.data(), d.data() + EEPROM_BYTES, FILA_USUARIO_BYTES);
}

void Nvmctrl::guardar_fichero()
{
    if (ruta_fichero_.empty()) return;
    std::string tmp = ruta_fichero_ + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f) return;
    bool ok = std::fwrite(flash_.data() + EEPROM_BASE, 1, EEPROM_BYTES, f) == EEPROM_BYTES &&
              std::fwrite(fila_usuario_.data(), 1, FILA_USUARIO_BYTES, f) == FILA_USUARIO_BYTES;
    ok = std::fclose(f) == 0 && ok;
    if (ok) std::rename(tmp.c_str(), ruta_fichero_.c_str());
}

}  // namespace samd21
