"""Reads an exported file back with readers the program does not share: Python's csv module for
CSV, MNE for EDF+ and BDF+. Prints what it read as JSON on standard output."""
import json
import sys

kind, path = sys.argv[1], sys.argv[2]
if kind == "csv":
    import csv

    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    print(json.dumps({"header": rows[0], "rows": rows[1:]}))
else:
    import mne

    mne.set_log_level("ERROR")
    read = mne.io.read_raw_bdf if kind == "bdf" else mne.io.read_raw_edf
    raw = read(path, preload=True)
    # MNE reads microvolts and the like as volts; a signal without a unit as it is.
    scale = {"uV": 1e6, "mV": 1e3}
    data = raw.get_data()
    units = raw._orig_units
    signals = [
        [float(v) * scale.get(units.get(name, ""), 1) for v in data[i]]
        for i, name in enumerate(raw.ch_names)
    ]
    print(json.dumps({
        "names": raw.ch_names,
        "rate": raw.info["sfreq"],
        "start": raw.info["meas_date"].isoformat() if raw.info["meas_date"] else "",
        "signals": signals,
        "annotations": [[float(a["onset"]), float(a["duration"]), a["description"]]
                        for a in raw.annotations],
    }))
