# Installation layout and packaging (placeholder until desktop integration lands).
