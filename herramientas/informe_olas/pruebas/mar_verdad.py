"""The sea that olas-sim draws for "--sea ...", rebuilt here from the same
deterministic generator, so a test knows what the realised sea holds and not
only what was asked for: a few hundred components whose directions are drawn
at random from the cos-2s law have an energy-weighted mean direction and
spread that differ from the requested ones by a few degrees."""

import math

M64 = (1 << 64) - 1
COMPONENTES = 400
F_MIN, F_MAX = 0.02, 0.7


class Aleatorio:
    """splitmix64, as the simulator's."""

    def __init__(self, semilla):
        self.s = semilla & M64

    def siguiente(self):
        self.s = (self.s + 0x9E3779B97F4A7C15) & M64
        z = self.s
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & M64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & M64
        return z ^ (z >> 31)

    def uniforme(self):
        return (self.siguiente() >> 11) * (1.0 / 9007199254740992.0)


def _jonswap(f, fp, gamma):
    sigma = 0.07 if f <= fp else 0.09
    r = math.exp(-(f - fp) ** 2 / (2.0 * sigma * sigma * fp * fp))
    return f ** -5.0 * math.exp(-1.25 * (fp / f) ** 4) * gamma ** r


def componentes(hs=1.5, tp=8.0, dir=45.0, spread=25.0, gamma=3.3, seed=1):
    """[(frequency Hz, variance m^2, from-direction degrees)] of the sea."""
    rnd = Aleatorio((seed * 0x2545F4914F6CDD1D + 7) & M64)
    fp = 1.0 / tp
    df = (F_MAX - F_MIN) / COMPONENTES
    sig = spread * math.pi / 180.0
    s = 2.0 / (sig * sig) - 1.0 if sig > 0.005 else -1.0
    lista = []
    for i in range(COMPONENTES):
        f = F_MIN + (i + rnd.uniforme()) * df
        d = _jonswap(f, fp, gamma) * df
        rnd.uniforme()  # the phase
        desvio = 0.0
        if s > 0:
            for _ in range(100000):
                x = math.pi * (2.0 * rnd.uniforme() - 1.0)
                if rnd.uniforme() <= math.cos(x / 2.0) ** (2.0 * s):
                    desvio = x
                    break
        lista.append([f, d, (dir + math.degrees(desvio)) % 360.0])
    total = sum(c[1] for c in lista)
    m0 = (hs / 4.0) ** 2
    for c in lista:
        c[1] *= m0 / total
    return lista


def verdad(banda=(0.03, 0.5), **mar):
    """Hm0, the energy-weighted moments a1, b1, a2, b2 of the from-direction,
    the mean direction and Kuik spread, the principal direction and the
    second-order spread of the realised sea within a band."""
    cs = [c for c in componentes(**mar) if banda[0] <= c[0] <= banda[1]]
    m0 = sum(c[1] for c in cs)
    a1, b1, a2, b2 = (sum(c[1] * g(k * math.radians(c[2])) for c in cs) / m0
                      for k, g in ((1, math.cos), (1, math.sin), (2, math.cos), (2, math.sin)))
    r1 = min(1.0, math.hypot(a1, b1))
    media = math.degrees(math.atan2(b1, a1)) % 360.0
    principal = (math.degrees(math.atan2(b2, a2)) / 2.0) % 360.0
    if abs((principal - media + 180.0) % 360.0 - 180.0) > 90.0:
        principal = (principal + 180.0) % 360.0
    return dict(hm0=4.0 * math.sqrt(m0), a1=a1, b1=b1, a2=a2, b2=b2, dir=media,
                spread=math.degrees(math.sqrt(2.0 * (1.0 - r1))), dir_principal=principal,
                spread2=math.degrees(math.sqrt(0.5 * (1.0 - min(1.0, math.hypot(a2, b2))))))
