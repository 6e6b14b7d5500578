#include "elf.h"

#include <elf.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace samd21 {

uint32_t ImagenElf::simbolo(const std::string &nombre, uint32_t defecto) const
{
    auto it = simbolos.find(nombre);
    return it == simbolos.end() ? defecto : it->second;
}

const FuncionElf *ImagenElf::funcion_en(uint32_t direccion) const
{
    auto it = std::upper_bound(funciones.begin(), funciones.end(), direccion,
                               [](uint32_t d, const FuncionElf &f) { return d < f.inicio; });
    if (it == funciones.begin()) return nullptr;
    --it;
    return direccion < it->fin ? &*it : nullptr;
}

namespace {
template <typename T>
T leer_en(const std::vector<uint8_t> &f, size_t pos)
{
    if (pos + sizeof(T) > f.size() || pos + sizeof(T) < pos) throw std::runtime_error("truncated ELF file");
    T v;
    std::memcpy(&v, f.data() + pos, sizeof v);
    return v;
}
}  // namespace

ImagenElf leer_elf(const std::string &ruta)
{
    std::ifstream in(ruta, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the firmware image " + ruta);
    std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto cab = leer_en<Elf32_Ehdr>(f, 0);
    if (std::memcmp(cab.e_ident, ELFMAG, SELFMAG) != 0 || cab.e_ident[EI_CLASS] != ELFCLASS32 ||
        cab.e_ident[EI_DATA] != ELFDATA2LSB || cab.e_machine != EM_ARM)
        throw std::runtime_error(ruta + " is not a 32-bit ARM ELF image");
    ImagenElf img;
    for (unsigned i = 0; i < cab.e_phnum; i++) {
        auto ph = leer_en<Elf32_Phdr>(f, cab.e_phoff + (size_t)i * cab.e_phentsize);
        if (ph.p_type != PT_LOAD || ph.p_filesz == 0) continue;
        if ((size_t)ph.p_offset + ph.p_filesz > f.size()) throw std::runtime_error("truncated ELF segment");
        img.segmentos.push_back({ph.p_paddr, std::vector<uint8_t>(f.begin() + ph.p_offset,
                                                                   f.begin() + ph.p_offset + ph.p_filesz)});
    }
    for (unsigned i = 0; i < cab.e_shnum; i++) {
        auto sh = leer_en<Elf32_Shdr>(f, cab.e_shoff + (size_t)i * cab.e_shentsize);
        if (sh.sh_type != SHT_SYMTAB || sh.sh_entsize == 0) continue;
        auto cadenas = leer_en<Elf32_Shdr>(f, cab.e_shoff + (size_t)sh.sh_link * cab.e_shentsize);
        for (size_t k = 0; k < sh.sh_size / sh.sh_entsize; k++) {
            auto s = leer_en<Elf32_Sym>(f, sh.sh_offset + k * sh.sh_entsize);
            size_t pos = (size_t)cadenas.sh_offset + s.st_name;
            if (s.st_name == 0 || pos >= f.size()) continue;
            const char *p = reinterpret_cast<const char *>(f.data() + pos);
            std::string nombre(p, strnlen(p, f.size() - pos));
            if (nombre.empty() || nombre[0] == '$') continue;  // mapping symbols ($t, $d)
            if (s.st_shndx == SHN_UNDEF) continue;
            if (ELF32_ST_BIND(s.st_info) != STB_LOCAL || !img.simbolos.count(nombre)) img.simbolos[nombre] = s.st_value;
            if (ELF32_ST_TYPE(s.st_info) == STT_FUNC && s.st_size > 0)
                img.funciones.push_back({s.st_value & ~1u, (s.st_value & ~1u) + s.st_size, nombre});
        }
    }
    std::sort(img.funciones.begin(), img.funciones.end(),
              [](const FuncionElf &a, const FuncionElf &b) { return a.inicio < b.inicio; });
    return img;
}

}  // namespace samd21
