// A compile-time stand-in for the part of the Editor's scripting API that the
// package uses; see UnityEngine.cs. Nothing here runs.
using System;
using UnityEngine;

#pragma warning disable 67 // events never raised

namespace UnityEditor
{
    public class Editor : ScriptableObject
    {
        public UnityEngine.Object target { get { throw Stub(); } }
        public SerializedObject serializedObject { get { throw Stub(); } }
        public virtual void OnInspectorGUI() { throw Stub(); }
        public virtual bool RequiresConstantRepaint() { throw Stub(); }
        public bool DrawDefaultInspector() { throw Stub(); }

        internal static Exception Stub() { return new NotSupportedException("compile-time stand-in"); }
    }

    [AttributeUsage(AttributeTargets.Class)]
    public sealed class CustomEditor : Attribute
    {
        public CustomEditor(Type inspectedType) { }
    }

    public sealed class SerializedObject
    {
        public void Update() { throw Editor.Stub(); }
        public bool ApplyModifiedProperties() { throw Editor.Stub(); }
        public SerializedProperty FindProperty(string propertyPath) { throw Editor.Stub(); }
    }

    public sealed class SerializedProperty
    {
    }

    public enum MessageType
    {
        None,
        Info,
        Warning,
        Error
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

    public static class AssemblyReloadEvents
    {
        public delegate void AssemblyReloadCallback();

        public static event AssemblyReloadCallback beforeAssemblyReload;
    }
}
