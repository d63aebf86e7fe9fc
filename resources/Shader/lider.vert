#version 410
void main(){}
