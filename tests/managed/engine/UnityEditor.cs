// A compile-time stand-in for the part of the Editor's scripting API that the
// package uses; see UnityEngine.cs. Nothing here runs; reference_api.tsv
// says where the engine declares each of these.
using System;
using UnityEngine;

#pragma warning disable 67 // events never raised

namespace UnityEditor
{
    public class Editor : ScriptableObject
    {
        public UnityEngine.Object target { get { throw Stub(); } set { throw Stub(); } }
        public SerializedObject serializedObject { get { throw Stub(); } }
        public virtual void OnInspectorGUI() { throw Stub(); }
        public virtual bool RequiresConstantRepaint() { throw Stub(); }

        internal static Exception Stub() { return new NotSupportedException("compile-time stand-in"); }
    }

    public class CustomEditor : Attribute
    {
        public CustomEditor(Type inspectedType) { }
    }

    public class SerializedObject
    {
        private SerializedObject() { }
        public void Update() { throw Editor.Stub(); }
        public bool ApplyModifiedProperties() { throw Editor.Stub(); }
        public SerializedProperty FindProperty(string propertyPath) { throw Editor.Stub(); }
    }

    public class SerializedProperty
    {
        internal SerializedProperty() { }
        public int intValue { get { throw Editor.Stub(); } set { throw Editor.Stub(); } }
    }

    public enum MessageType
    {
        None = 0,
        Info = 1,
        Warning = 2,
        Error = 3
    }

    public sealed class EditorGUILayout
    {
        public static bool PropertyField(SerializedProperty property, GUIContent label,
                                         params GUILayoutOption[] options)
        {
            throw Editor.Stub();
        }
        public static void HelpBox(string message, MessageType type) { throw Editor.Stub(); }
        public static void Space() { throw Editor.Stub(); }
        public static void LabelField(string label, string label2, params GUILayoutOption[] options)
        {
            throw Editor.Stub();
        }
        public static void LabelField(string label, GUIStyle style, params GUILayoutOption[] options)
        {
            throw Editor.Stub();
        }
    }

    public sealed class EditorStyles
    {
        public static GUIStyle boldLabel { get { throw Editor.Stub(); } }
    }

    public sealed class EditorGUI
    {
        public struct DisabledScope : IDisposable
        {
            public DisabledScope(bool disabled) { throw Editor.Stub(); }
            public void Dispose() { }
        }
    }

    public enum BuildTarget
    {
        StandaloneOSX = 2,
        StandaloneWindows = 5,
        StandaloneWindows64 = 19,
        StandaloneLinux64 = 24
    }

    public class AssetImporter : UnityEngine.Object
    {
        public string assetPath { get { throw Editor.Stub(); } }
        public void SaveAndReimport() { throw Editor.Stub(); }
    }

    public sealed class PluginImporter : AssetImporter
    {
        public bool isPreloaded { get; set; }
        public static PluginImporter[] GetAllImporters() { throw Editor.Stub(); }
        public bool GetCompatibleWithAnyPlatform() { throw Editor.Stub(); }
        public void SetCompatibleWithAnyPlatform(bool enable) { throw Editor.Stub(); }
        public bool GetCompatibleWithEditor() { throw Editor.Stub(); }
        public void SetCompatibleWithEditor(bool enable) { throw Editor.Stub(); }
        public string GetEditorData(string key) { throw Editor.Stub(); }
        public void SetEditorData(string key, string value) { throw Editor.Stub(); }
        public bool GetCompatibleWithPlatform(BuildTarget platform) { throw Editor.Stub(); }
        public void SetCompatibleWithPlatform(BuildTarget platform, bool enable) { throw Editor.Stub(); }
        public string GetPlatformData(BuildTarget platform, string key) { throw Editor.Stub(); }
        public void SetPlatformData(BuildTarget platform, string key, string value) { throw Editor.Stub(); }
    }

    public enum PlayModeStateChange
    {
        EnteredEditMode,
        ExitingEditMode,
        EnteredPlayMode,
        ExitingPlayMode
    }

    public sealed class EditorApplication
    {
        public static event Action<PlayModeStateChange> playModeStateChanged;
        public static event Action projectChanged;
    }

    public class EditorUtility
    {
        public static bool DisplayDialog(string title, string message, string ok) { throw Editor.Stub(); }
    }

    [AttributeUsage(AttributeTargets.Method, AllowMultiple = true)]
    public sealed class MenuItem : Attribute
    {
        public MenuItem(string itemName) { }
    }

    [AttributeUsage(AttributeTargets.Method)]
    public class InitializeOnLoadMethodAttribute : Attribute
    {
    }

    public static class AssemblyReloadEvents
    {
        public delegate void AssemblyReloadCallback();

        public static event AssemblyReloadCallback beforeAssemblyReload;
    }
}
