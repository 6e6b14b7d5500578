"""The card report: from a wave buoy's recovered card to data, spectra, checks and plots."""

VERSION = "2.0"
