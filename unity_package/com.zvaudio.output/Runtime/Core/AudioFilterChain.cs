using System;
using System.Collections.Generic;
using System.Reflection;

namespace ZVAudio.Output
{
    // The engine runs a GameObject's audio filters from the top of the inspector
    // down, so a filter below the forwarder changes the sound after it was
    // forwarded (and after it was muted). Decides by type alone which components
    // are filters: the engine's built-in ones and any script with OnAudioFilterRead.
    public static class AudioFilterChain
    {
        private static readonly string[] builtInFilters = {
            "AudioLowPassFilter", "AudioHighPassFilter", "AudioEchoFilter",
            "AudioDistortionFilter", "AudioReverbFilter", "AudioChorusFilter"
        };

        public static bool IsFilter(Type component)
        {
            if (component == null)
                return false;
            if (Array.IndexOf(builtInFilters, component.Name) >= 0)
                return true;
            return component.GetMethod("OnAudioFilterRead",
                                       BindingFlags.Instance | BindingFlags.Public | BindingFlags.NonPublic,
                                       null, new[] { typeof(float[]), typeof(int) }, null) != null;
        }

        // Names of the filters that come after position `index` in `components`
        // (the GameObject's components in inspector order).
        public static List<string> FiltersBelow(IList<Type> components, int index)
        {
            var below = new List<string>();
            for (int i = index + 1; i < components.Count; ++i)
                if (IsFilter(components[i]))
                    below.Add(components[i].Name);
            return below;
        }
    }
}
