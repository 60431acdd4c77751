"""A script that stays connected while the state changes under it: switched
timelines, a project without one, Resolve quitting and starting again."""


def test_a_connection_sees_timeline_switches(sim):
    r = sim.connect()
    p = r.GetProjectManager().GetCurrentProject()
    first = p.GetCurrentTimeline()
    cases = [
        (["timeline", "Second", "--start-timecode", "00:00:00:00"], "Second", 0),
        (["timeline", "--none"], None, None),
        # Back to the first one by name, not a new timeline.
        (["timeline", first.GetName()], first.GetName(), first.GetStartFrame()),
    ]
    for args, name, start in cases:
        sim.cli(*args)
        timeline = p.GetCurrentTimeline()
        if name is None:
            assert timeline is None, args
            continue
        assert (timeline.GetName(), timeline.GetStartFrame()) == (name, start), args
    assert p.GetCurrentTimeline().GetUniqueId() == first.GetUniqueId()
    assert p.GetTimelineCount() == 2


def test_a_resolve_that_quit_answers_nothing_until_it_is_back(sim):
    r = sim.connect()
    manager = r.GetProjectManager()
    timeline = manager.GetCurrentProject().GetCurrentTimeline()
    sim.cli("set", "running", "false")
    assert r.GetProjectManager() is None
    assert timeline.GetCurrentTimecode() == ""
    assert sim.run_python("import DaVinciResolveScript as d; print(d.scriptapp('Resolve'))").stdout.strip() == b"None"
    sim.cli("set", "running", "true")
    assert timeline.GetName() and r.GetProjectManager() is not None
