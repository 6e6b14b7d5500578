// Host file helpers of the card tests.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// The volume of a partitioned image as an image of its own, copying only the
// parts of the sparse file that hold data.
void copiar_volumen(const std::string &origen, const std::string &destino, uint64_t desde)
{
    int a = open(origen.c_str(), O_RDONLY);
    int b = open(destino.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    off_t fin = lseek(a, 0, SEEK_END);
    if (ftruncate(b, fin - (off_t)desde) != 0) return;
    std::vector<char> buf(1 << 20);
    for (off_t p = (off_t)desde; p < fin;) {
        off_t d = lseek(a, p, SEEK_DATA);
        if (d < 0) break;
        off_t h = lseek(a, d, SEEK_HOLE);
        for (off_t q = d; q < h;) {
            ssize_t n = pread(a, buf.data(), (size_t)std::min<off_t>((off_t)buf.size(), h - q), q);
            if (n <= 0) break;
            if (pwrite(b, buf.data(), (size_t)n, q - (off_t)desde) != n) break;
            q += n;
        }
        p = h;
    }
    close(a);
    close(b);
}

